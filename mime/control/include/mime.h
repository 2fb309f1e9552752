/*
 * libmime: the Mime control ("Mime Control", MIME.MimeCtrl.1) for C, C++ and Python ctypes.
 *
 * Text crosses this boundary as counted byte strings (MimeBStr): a pointer to the bytes,
 * with the length kept in front of them and a zero byte after them. NULL is the null
 * string, which differs from an empty one. Strings the library returns belong to the
 * caller, who frees them with MimeStrFree.
 *
 * Objects follow the usual class-object pattern: DllGetClassObject gives a class factory,
 * whose CreateInstance gives the control's dispatch object or the property page. Every
 * object is a pointer to a struct whose first member is its function table. The flat
 * functions MimeCreate / MimeInvoke / ... do the same for callers that prefer plain calls.
 */
#ifndef TALVERON_MIME_H
#define TALVERON_MIME_H

#include <stddef.h>
#include <stdint.h>

#if defined(MIME_BUILDING_LIBRARY)
#define MIME_EXPORT __attribute__((visibility("default")))
#else
#define MIME_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results: 0 is success; failures have the top bit set (negative as int32_t). */
typedef int32_t MimeResult;
#define MIME_S_OK ((MimeResult)0)
#define MIME_S_FALSE ((MimeResult)1)
#define MIME_E_INVALIDVALUE ((MimeResult)0x800A74D0)    /* automation error 29904 */
#define MIME_E_OUTOFMEMORY ((MimeResult)0x800A0007)     /* automation error 7 */
#define MIME_E_SETNOTSUPPORTED ((MimeResult)0x800A017F) /* automation error 383 */
#define MIME_E_MEMBERNOTFOUND ((MimeResult)0x80020003)
#define MIME_E_TYPEMISMATCH ((MimeResult)0x80020005)
#define MIME_E_UNKNOWNNAME ((MimeResult)0x80020006)
#define MIME_E_BADPARAMCOUNT ((MimeResult)0x8002000E)
#define MIME_E_NOINTERFACE ((MimeResult)0x80004002)
#define MIME_E_POINTER ((MimeResult)0x80004003)
#define MIME_E_FAIL ((MimeResult)0x80004005)
#define MIME_E_CLASSNOTAVAILABLE ((MimeResult)0x80040111)
#define MIME_E_SELFREG_TYPELIB ((MimeResult)0x80040200)
#define MIME_E_SELFREG_CLASS ((MimeResult)0x80040201)

typedef struct MimeGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
} MimeGuid;

MIME_EXPORT extern const MimeGuid LIBID_MIMELib;      /* type library, version 1.4, locale 0x409 */
MIME_EXPORT extern const MimeGuid DIID__DMime;        /* dispatch interface */
MIME_EXPORT extern const MimeGuid DIID__DMimeEvents;  /* event interface (no events) */
MIME_EXPORT extern const MimeGuid CLSID_Mime;         /* control class, MIME.MimeCtrl.1 */
MIME_EXPORT extern const MimeGuid CLSID_MimePropPage; /* property page, MIME.MimePropPage.1 */
MIME_EXPORT extern const MimeGuid IID_MimeUnknown;    /* any object of this library */
MIME_EXPORT extern const MimeGuid IID_MimeClassFactory;
MIME_EXPORT extern const MimeGuid IID_MimePropertyPage;

/* ---- counted byte strings ---- */
typedef char* MimeBStr;
/* A new string of `length` bytes copied from `bytes`; with bytes NULL the contents are
 * left for the caller to write.
 * Returns NULL when memory is exhausted. */
MIME_EXPORT MimeBStr MimeStrAlloc(const void* bytes, size_t length);
MIME_EXPORT void MimeStrFree(MimeBStr s);
MIME_EXPORT size_t MimeStrLen(MimeBStr s); /* 0 for NULL */

/* ---- variants ---- */
enum { MIME_VT_EMPTY = 0, MIME_VT_I2 = 2, MIME_VT_BSTR = 8, MIME_VT_BYREF = 0x4000 };
typedef struct MimeVariant {
    uint16_t type; /* MIME_VT_EMPTY, MIME_VT_I2, MIME_VT_BSTR or MIME_VT_BSTR | MIME_VT_BYREF */
    uint16_t reserved[3];
    union {
        int16_t i2;
        MimeBStr bstr;
        MimeBStr* pbstr;
        uint64_t pad;
    } value;
} MimeVariant;
/* Frees a returned string inside a variant and sets it to MIME_VT_EMPTY. */
MIME_EXPORT void MimeVariantClear(MimeVariant* v);

/* What a failing call says: the automation error number (29904, 383, 7, ...) and its text
 * (UTF-8, owned by the library, valid for the life of the process). */
typedef struct MimeExcepInfo {
    int32_t code;
    const char* description;
} MimeExcepInfo;

/* ---- dispatch ---- */
enum {
    MIME_DISPATCH_METHOD = 1,
    MIME_DISPATCH_PROPERTYGET = 2,
    MIME_DISPATCH_PROPERTYPUT = 4,
    MIME_DISPATCH_PROPERTYPUTREF = 8
};
enum { MIME_MEMBER_METHOD = 0, MIME_MEMBER_PROPERTY_READONLY = 1 };

/* Dispatch ids of _DMime. */
enum {
    MIME_DISPID_COPYRIGHT = 1,
    MIME_DISPID_BASE64ENCODE = 3,
    MIME_DISPID_BASE64DECODE = 4,
    MIME_DISPID_QUOTEDPRINTABLEENCODE = 5,
    MIME_DISPID_QUOTEDPRINTABLEDECODE = 6,
    MIME_DISPID_MIMEHEADERENCODE = 7,
    MIME_DISPID_MIMEHEADERDECODE = 8,
    MIME_DISPID_UUENCODEBEGIN = 9,
    MIME_DISPID_UUENCODEBYTE = 10,
    MIME_DISPID_UUENCODELINE = 11,
    MIME_DISPID_UUENCODEEND = 12,
    MIME_DISPID_UUDECODEBEGIN = 13,
    MIME_DISPID_UUDECODELINE = 14,
    MIME_DISPID_VERSION = 16,
    MIME_DISPID_ABOUTBOX = -552
};

typedef struct MimeMemberInfo {
    int32_t dispid;
    const char* name;
    int32_t kind; /* MIME_MEMBER_* */
    uint32_t param_count;
    const char* const* param_names; /* by-reference byte strings, left unchanged */
    uint16_t result_type;           /* MIME_VT_BSTR, MIME_VT_I2 or MIME_VT_EMPTY */
} MimeMemberInfo;

/* The members of _DMime in dispatch-id order (the type information). */
MIME_EXPORT uint32_t MimeMemberCount(void);
MIME_EXPORT const MimeMemberInfo* MimeMemberAt(uint32_t index);

typedef struct MimeDispatch MimeDispatch;
typedef struct MimeDispatchVtbl {
    MimeResult (*QueryInterface)(MimeDispatch* self, const MimeGuid* iid, void** object);
    uint32_t (*AddRef)(MimeDispatch* self);
    uint32_t (*Release)(MimeDispatch* self);
    /* Case-insensitive, as automation names are. */
    MimeResult (*GetIDOfName)(MimeDispatch* self, const char* name, int32_t* dispid);
    /* args[0..count) in the order of the member's parameters (not reversed). `result` may be
     * NULL; on success it receives a string the caller frees (MimeVariantClear). A null
     * Source gives a MIME_VT_BSTR result holding NULL. On failure *excep is filled and
     * nothing is written to the result or the arguments. */
    MimeResult (*Invoke)(MimeDispatch* self, int32_t dispid, uint16_t flags, const MimeVariant* args, uint32_t count,
                         MimeVariant* result, MimeExcepInfo* excep);
    /* Persisted state: 12 bytes, the format version 0x00010004 and the extent in pixels. */
    MimeResult (*SaveState)(MimeDispatch* self, void* buffer, size_t size, size_t* written);
    MimeResult (*LoadState)(MimeDispatch* self, const void* buffer, size_t size);
} MimeDispatchVtbl;
struct MimeDispatch {
    const MimeDispatchVtbl* vtbl;
};

typedef struct MimePropertyPage MimePropertyPage;
typedef struct MimePropertyPageVtbl {
    MimeResult (*QueryInterface)(MimePropertyPage* self, const MimeGuid* iid, void** object);
    uint32_t (*AddRef)(MimePropertyPage* self);
    uint32_t (*Release)(MimePropertyPage* self);
    const char* (*Caption)(MimePropertyPage* self); /* "General" */
    const char* (*Text)(MimePropertyPage* self);    /* the page's one line */
    /* Shows the page modally; MIME_E_FAIL when no display is available. */
    MimeResult (*Show)(MimePropertyPage* self);
} MimePropertyPageVtbl;
struct MimePropertyPage {
    const MimePropertyPageVtbl* vtbl;
};

typedef struct MimeClassFactory MimeClassFactory;
typedef struct MimeClassFactoryVtbl {
    MimeResult (*QueryInterface)(MimeClassFactory* self, const MimeGuid* iid, void** object);
    uint32_t (*AddRef)(MimeClassFactory* self);
    uint32_t (*Release)(MimeClassFactory* self);
    /* iid: DIID__DMime or IID_MimeUnknown for the control, IID_MimePropertyPage or
     * IID_MimeUnknown for the page. */
    MimeResult (*CreateInstance)(MimeClassFactory* self, const MimeGuid* iid, void** object);
    MimeResult (*LockServer)(MimeClassFactory* self, int32_t lock);
} MimeClassFactoryVtbl;
struct MimeClassFactory {
    const MimeClassFactoryVtbl* vtbl;
};

/* ---- the four entry points ---- */
/* Registration writes to the per-user registry file (see docs/mime.md): $MIME_REGISTRY_FILE
 * when set, else $XDG_CONFIG_HOME/talveron/mime-registry, else ~/.config/talveron/mime-registry. */
MIME_EXPORT MimeResult DllRegisterServer(void);
MIME_EXPORT MimeResult DllUnregisterServer(void);
/* clsid CLSID_Mime or CLSID_MimePropPage; iid IID_MimeClassFactory or IID_MimeUnknown. */
MIME_EXPORT MimeResult DllGetClassObject(const MimeGuid* clsid, const MimeGuid* iid, void** object);
/* MIME_S_OK when no object is alive and no factory is locked, else MIME_S_FALSE. */
MIME_EXPORT MimeResult DllCanUnloadNow(void);

/* ---- flat convenience calls (ctypes friendly) ---- */
MIME_EXPORT MimeDispatch* MimeCreate(void); /* NULL when memory is exhausted */
MIME_EXPORT void MimeRelease(MimeDispatch* object);
MIME_EXPORT MimeResult MimeGetIDOfName(MimeDispatch* object, const char* name, int32_t* dispid);
MIME_EXPORT MimeResult MimeInvoke(MimeDispatch* object, int32_t dispid, uint16_t flags, const MimeVariant* args,
                                  uint32_t count, MimeVariant* result, MimeExcepInfo* excep);

/* For feeding Base64Decode piece by piece: the length of the longest prefix of text[0..length)
 * whose kept characters (alphabet and "=") make whole groups of four. Decoding each such
 * prefix in turn, the rest carried into the next piece, gives the same bytes as one call. */
MIME_EXPORT size_t MimeBase64WholeGroupsPrefix(const char* text, size_t length);

#ifdef __cplusplus
}
#endif

#endif /* TALVERON_MIME_H */
