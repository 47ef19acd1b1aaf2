/* Basic platform types shared by every stand-in platform header. */
#ifndef STANDIN_TC_TC_H
#define STANDIN_TC_TC_H

#ifdef __cplusplus
typedef bool logical;
#else
typedef unsigned char logical;
#endif

typedef unsigned int tag_t;
#define NULLTAG ((tag_t)0)
#define ITK_ok 0

#ifndef TC_API
#if defined(_WIN32)
#define TC_API __declspec(dllimport)
#else
#define TC_API __attribute__((visibility("default")))
#endif
#endif

#ifdef __cplusplus
#define TC_EXTERN_C_BEGIN extern "C" {
#define TC_EXTERN_C_END }
#else
#define TC_EXTERN_C_BEGIN
#define TC_EXTERN_C_END
#endif

#endif
