/* KorvaLib.dll, the KORVA system's support library: the interface programs
 * load it through.
 *
 * A plain C interface, looked up by entry-point name. Texts are NUL-terminated
 * Windows-1252 bytes. A text result goes into a buffer the caller owns; the
 * library keeps no state between calls and may be unloaded after any call.
 *
 * Build information of a file (GetBuildInfo):
 *  - a Windows PE executable: the String of that name in its version resource
 *    (VS_VERSIONINFO, StringFileInfo, the string table of the first
 *    Translation, else the first table), converted from UTF-16 to
 *    Windows-1252 ('?' for what the code page cannot hold);
 *  - any other file: the first valid KORVA-BUILDINFO block embedded anywhere
 *    in its first 256 MiB:
 *
 *        KORVA-BUILDINFO<LF>
 *        KEY=value<LF>
 *        ...
 *        KORVA-BUILDINFO-END<LF>
 *
 *    The first line starts the file or follows a LF or NUL byte. Lines end
 *    with LF or CR LF (the end line may also end with NUL or the file). A KEY
 *    is 1 to 64 of A-Z a-z 0-9 _ - . ; a value is any bytes but NUL, CR and
 *    LF, taken as they stand. At most 64 KiB from the first line to the end
 *    line. Anything else is not a block, and the search goes on after it.
 *  - key names are compared ignoring ASCII case; the first item of a name
 *    wins;
 *  - the file name "SELF" stands for the calling program's own executable;
 *  - a missing file, a file that is not a regular file, a missing item or a
 *    malformed file all give an empty value.
 *
 * Version order (ExisteAtualizacao): both versions are trimmed of blanks and
 * control characters and split at "."; parts are trimmed the same way and
 * compared left to right, a missing part counting as "0". Two parts of
 * decimal digits compare as numbers of any length ("3.2.00" equals "3.2.0",
 * "3.16.47" is later than "3.2.9", "3.2" equals "3.2.0"). Two parts that are
 * not both numbers must be the same text to go on; different texts there give
 * no order at all, and no update. An empty offered version is never later; an
 * empty current version makes any non-empty offered version later.
 */
#ifndef KORVALIB_H
#define KORVALIB_H

#include <stdint.h>

#if defined(_WIN32)
#define KORVALIB_API __declspec(dllexport)
#else
#define KORVALIB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KORVALIB_FILE_NAME "KorvaLib.dll"
#define KORVALIB_GET_BUILD_INFO "GetBuildInfo"
#define KORVALIB_EXISTE_ATUALIZACAO "ExisteAtualizacao"
/* No value is ever longer than this. */
#define KORVALIB_MAX_VALUE 65536

/* Copies the item's value into value (at most capacity - 1 bytes, then a NUL;
 * nothing when capacity is 0) and returns the value's full length, 0 when
 * there is none. A result >= capacity means the copy was cut: call again with
 * result + 1 bytes. -1: file or key missing, capacity negative, or value null
 * with a capacity. */
typedef int32_t (*KorvaGetBuildInfoFn)(const char* file, const char* key, char* value,
                                       int32_t capacity);
KORVALIB_API int32_t GetBuildInfo(const char* file, const char* key, char* value, int32_t capacity);

/* 1 when the offered version is later than the current one, else 0. A null
 * pointer counts as an empty version. */
typedef int32_t (*KorvaExisteAtualizacaoFn)(const char* offered, const char* current);
KORVALIB_API int32_t ExisteAtualizacao(const char* offered, const char* current);

#ifdef __cplusplus
}
#endif

#endif /* KORVALIB_H */
