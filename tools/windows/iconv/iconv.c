/* iconv for MinGW builds through MultiByteToWideChar and WideCharToMultiByte (see iconv.h). */
#include "iconv.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* The Windows code page of a character set name, or 0 when unknown. */
static UINT CodePage(const char* name) {
    char n[32];
    size_t i, j = 0;
    unsigned number;
    for (i = 0; name[i] && j + 1 < sizeof n; ++i) {
        const char c = name[i];
        if (c == '-' || c == '_')
            continue;
        n[j++] = (char)(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    n[j] = '\0';
    if (strcmp(n, "UTF8") == 0)
        return CP_UTF8;
    if (strcmp(n, "SJIS") == 0 || strcmp(n, "SHIFTJIS") == 0)
        return 932;
    if (strcmp(n, "BIG5") == 0)
        return 950;
    if (sscanf(n, "ISO8859%u", &number) == 1 && number >= 1 && number <= 16 && number != 12)
        return 28590 + number;
    if ((sscanf(n, "CP%u", &number) == 1 || sscanf(n, "WINDOWS%u", &number) == 1) && number > 0)
        return number;
    return 0;
}

iconv_t iconv_open(const char* tocode, const char* fromcode) {
    const UINT from = CodePage(fromcode);
    if (CodePage(tocode) != CP_UTF8 || from == 0 || !IsValidCodePage(from)) {
        errno = EINVAL;
        return (iconv_t)-1;
    }
    UINT* cd = (UINT*)malloc(sizeof *cd);
    if (!cd) {
        errno = ENOMEM;
        return (iconv_t)-1;
    }
    *cd = from;
    return cd;
}

size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft) {
    if (!inbuf || !*inbuf || *inbytesleft == 0)
        return 0;
    const UINT from = *(const UINT*)cd;
    /* Single-byte ISO code pages take every byte; the others must reject what is invalid. */
    const DWORD strict = from >= 28591 && from <= 28606 ? 0 : MB_ERR_INVALID_CHARS;
    const int inLen = (int)*inbytesleft;
    const int wideLen = MultiByteToWideChar(from, strict, *inbuf, inLen, NULL, 0);
    if (wideLen <= 0) {
        errno = EILSEQ;
        return (size_t)-1;
    }
    WCHAR* wide = (WCHAR*)malloc(sizeof(WCHAR) * (size_t)wideLen);
    if (!wide) {
        errno = ENOMEM;
        return (size_t)-1;
    }
    MultiByteToWideChar(from, strict, *inbuf, inLen, wide, wideLen);
    const int outLen = WideCharToMultiByte(CP_UTF8, 0, wide, wideLen, NULL, 0, NULL, NULL);
    if (outLen <= 0 || (size_t)outLen > *outbytesleft) {
        free(wide);
        errno = outLen <= 0 ? EILSEQ : E2BIG;
        return (size_t)-1;
    }
    WideCharToMultiByte(CP_UTF8, 0, wide, wideLen, *outbuf, outLen, NULL, NULL);
    free(wide);
    *inbuf += inLen;
    *inbytesleft = 0;
    *outbuf += outLen;
    *outbytesleft -= (size_t)outLen;
    return 0;
}

int iconv_close(iconv_t cd) {
    free(cd);
    return 0;
}
