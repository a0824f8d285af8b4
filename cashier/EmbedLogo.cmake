# Writes OUTPUT: a C++ unit whose ZumvoLogoJpeg() answers the bytes of INPUT.
file(READ ${INPUT} _hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" _bytes "${_bytes}")
file(WRITE ${OUTPUT} "// Generated from ZumvoLogo.jpg at build time.\n#include \"clsJpegImage.h\"\n\nnamespace zumvo {\n\nnamespace {\nconst unsigned char LogoBytes[] = {\n${_bytes}\n};\n} // namespace\n\nstd::span<const unsigned char> ZumvoLogoJpeg() { return LogoBytes; }\n\n} // namespace zumvo\n")
