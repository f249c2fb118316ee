#ifndef QUILLSEAL_EXPORT_H
#define QUILLSEAL_EXPORT_H

/* Exported names carry QS_API; everything else in the library stays hidden. */
#if defined(QS_BUILDING_LIBRARY)
#define QS_API __attribute__((visibility("default")))
#else
#define QS_API
#endif

#ifdef __cplusplus
#define QS_EXTERN_C_BEGIN extern "C" {
#define QS_EXTERN_C_END }
#else
#define QS_EXTERN_C_BEGIN
#define QS_EXTERN_C_END
#endif

#endif
