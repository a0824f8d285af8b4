/* iconv for MinGW builds of the dependency cache (tools/windows/build-deps.sh): the conversions
 * zbar's QR text decoder asks for (a legacy or Unicode character set to UTF-8), done by Windows'
 * own code page tables.  Debian builds no iconv for MinGW; only conversion to "UTF-8" is known. */
#ifndef ZUMVO_WIN_ICONV_H
#define ZUMVO_WIN_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* iconv_t;

/* A converter from `fromcode` to `tocode`; (iconv_t)-1 with errno EINVAL when either is unknown.
 * Names: UTF-8, ISO8859-n / ISO-8859-n (n 1..16), CP437, SJIS / SHIFT_JIS, BIG-5 / BIG5, and
 * CPnnn / WINDOWS-nnnn for any Windows code page. */
iconv_t iconv_open(const char* tocode, const char* fromcode);

/* Converts the whole of *inbuf (*inbytesleft bytes) at once, advancing the four arguments as POSIX
 * iconv does.  Fails with (size_t)-1 and errno EILSEQ when the input is not valid in its character
 * set (nothing is consumed), or E2BIG when the output does not fit.  A null inbuf resets the
 * converter (there is no state to reset) and answers 0. */
size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft);

int iconv_close(iconv_t cd);

#ifdef __cplusplus
}
#endif

#endif
