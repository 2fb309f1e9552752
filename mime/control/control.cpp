// The Mime control: its dispatch interface _DMime, the property page object and the class
// factories. The conversions themselves live in the codec; this layer only carries byte
// strings across and turns statuses into automation errors.
#include "bstr.h"
#include "control_internal.h"
#include "mime.h"
#include "mime_codec.h"

#include <atomic>
#include <cstring>
#include <new>
#include <strings.h>

namespace talveron::mime {
namespace {

std::atomic<long> g_liveObjects{0};
std::atomic<long> g_locks{0};

constexpr std::int16_t kVersion = 104;
constexpr std::int16_t kVersionOfOldState = 100;
constexpr std::uint32_t kStateFormat = 0x00010004;
constexpr std::int32_t kExtentPixels = 32;

const char* const kSource[] = {"Source"};
const char* const kBeginParams[] = {"FileName", "Permission"};

const MimeMemberInfo kMembers[] = {
    {MIME_DISPID_COPYRIGHT, "Copyright", MIME_MEMBER_PROPERTY_READONLY, 0, nullptr, MIME_VT_BSTR},
    {MIME_DISPID_BASE64ENCODE, "Base64Encode", MIME_MEMBER_METHOD, 1, kSource, MIME_VT_BSTR},
    {MIME_DISPID_BASE64DECODE, "Base64Decode", MIME_MEMBER_METHOD, 1, kSource, MIME_VT_BSTR},
    {MIME_DISPID_QUOTEDPRINTABLEENCODE, "QuotedPrintableEncode", MIME_MEMBER_METHOD, 1, kSource, MIME_VT_BSTR},
    {MIME_DISPID_QUOTEDPRINTABLEDECODE, "QuotedPrintableDecode", MIME_MEMBER_METHOD, 1, kSource, MIME_VT_BSTR},
    {MIME_DISPID_MIMEHEADERENCODE, "MimeHeaderEncode", MIME_MEMBER_METHOD, 1, kSource, MIME_VT_BSTR},
    {MIME_DISPID_MIMEHEADERDECODE, "MimeHeaderDecode", MIME_MEMBER_METHOD, 1, kSource, MIME_VT_BSTR},
    {MIME_DISPID_UUENCODEBEGIN, "UuEncodeBegin", MIME_MEMBER_METHOD, 2, kBeginParams, MIME_VT_BSTR},
    {MIME_DISPID_UUENCODEBYTE, "UuEncodeByte", MIME_MEMBER_METHOD, 1, kSource, MIME_VT_BSTR},
    {MIME_DISPID_UUENCODELINE, "UuEncodeLine", MIME_MEMBER_METHOD, 1, kSource, MIME_VT_BSTR},
    {MIME_DISPID_UUENCODEEND, "UuEncodeEnd", MIME_MEMBER_METHOD, 0, nullptr, MIME_VT_BSTR},
    {MIME_DISPID_UUDECODEBEGIN, "UuDecodeBegin", MIME_MEMBER_METHOD, 1, kSource, MIME_VT_BSTR},
    {MIME_DISPID_UUDECODELINE, "UuDecodeLine", MIME_MEMBER_METHOD, 1, kSource, MIME_VT_BSTR},
    {MIME_DISPID_VERSION, "Version", MIME_MEMBER_PROPERTY_READONLY, 0, nullptr, MIME_VT_I2},
    {MIME_DISPID_ABOUTBOX, "AboutBox", MIME_MEMBER_METHOD, 0, nullptr, MIME_VT_EMPTY},
};
constexpr std::uint32_t kMemberCount = sizeof kMembers / sizeof kMembers[0];

const MimeMemberInfo* FindMember(std::int32_t dispid) {
    for (const auto& m : kMembers)
        if (m.dispid == dispid) return &m;
    return nullptr;
}

bool SameGuid(const MimeGuid* a, const MimeGuid& b) { return a != nullptr && std::memcmp(a, &b, sizeof b) == 0; }

MimeResult Fail(MimeExcepInfo* excep, MimeResult result, std::int32_t code, const char* description) {
    if (excep != nullptr) *excep = {code, description};
    return result;
}

MimeResult FromStatus(Status status, MimeExcepInfo* excep) {
    switch (status) {
        case Status::Ok:
            return MIME_S_OK;
        case Status::InvalidValue:
            return Fail(excep, MIME_E_INVALIDVALUE, 29904, kInvalidValueText);
        case Status::OutOfMemory:
            break;
    }
    return Fail(excep, MIME_E_OUTOFMEMORY, 7, kOutOfMemoryText);
}

char* AllocateBStr(void*, std::size_t capacity) { return StrAllocUninitialized(capacity); }

// An argument as the byte string it carries; `null` when it is the null string.
struct Argument {
    std::string_view bytes;
    bool null = true;
};

bool ReadArgument(const MimeVariant& v, Argument& a) {
    MimeBStr s = nullptr;
    if (v.type == MIME_VT_BSTR)
        s = v.value.bstr;
    else if (v.type == (MIME_VT_BSTR | MIME_VT_BYREF))
        s = v.value.pbstr != nullptr ? *v.value.pbstr : nullptr;
    else if (v.type != MIME_VT_EMPTY)
        return false;
    a.null = s == nullptr;
    a.bytes = a.null ? std::string_view() : std::string_view(s, MimeStrLen(s));
    return true;
}

struct Control {
    MimeDispatch base;
    std::atomic<std::uint32_t> refs{1};
    std::int16_t version = kVersion;
};

struct PropertyPage {
    MimePropertyPage base;
    std::atomic<std::uint32_t> refs{1};
};

Control* Self(MimeDispatch* d) { return reinterpret_cast<Control*>(d); }

uint32_t ControlAddRef(MimeDispatch* self) { return ++Self(self)->refs; }

uint32_t ControlRelease(MimeDispatch* self) {
    const std::uint32_t left = --Self(self)->refs;
    if (left == 0) {
        delete Self(self);
        --g_liveObjects;
    }
    return left;
}

MimeResult ControlQueryInterface(MimeDispatch* self, const MimeGuid* iid, void** object) {
    if (object == nullptr) return MIME_E_POINTER;
    *object = nullptr;
    if (!SameGuid(iid, DIID__DMime) && !SameGuid(iid, IID_MimeUnknown)) return MIME_E_NOINTERFACE;
    ControlAddRef(self);
    *object = self;
    return MIME_S_OK;
}

MimeResult ControlGetIDOfName(MimeDispatch*, const char* name, int32_t* dispid) {
    if (name == nullptr || dispid == nullptr) return MIME_E_POINTER;
    for (const auto& m : kMembers) {
        if (strcasecmp(m.name, name) == 0) {
            *dispid = m.dispid;
            return MIME_S_OK;
        }
    }
    *dispid = -1;
    return MIME_E_UNKNOWNNAME;
}

MimeResult RunConversion(std::int32_t dispid, const Argument* args, MimeVariant& produced, MimeExcepInfo* excep) {
    // A null Source gives a null result; UuEncodeBegin reads null arguments as empty.
    if (dispid != MIME_DISPID_UUENCODEBEGIN && dispid != MIME_DISPID_UUENCODEEND && args[0].null) {
        produced.type = MIME_VT_BSTR;
        produced.value.bstr = nullptr;
        return MIME_S_OK;
    }
    Output out{AllocateBStr, nullptr};
    Status status = Status::Ok;
    switch (dispid) {
        case MIME_DISPID_BASE64ENCODE:
            status = Base64Encode(args[0].bytes, out);
            break;
        case MIME_DISPID_BASE64DECODE:
            status = Base64Decode(args[0].bytes, out);
            break;
        case MIME_DISPID_QUOTEDPRINTABLEENCODE:
            status = QuotedPrintableEncode(args[0].bytes, out);
            break;
        case MIME_DISPID_QUOTEDPRINTABLEDECODE:
            status = QuotedPrintableDecode(args[0].bytes, out);
            break;
        case MIME_DISPID_MIMEHEADERENCODE:
            status = MimeHeaderEncode(args[0].bytes, out);
            break;
        case MIME_DISPID_MIMEHEADERDECODE:
            status = MimeHeaderDecode(args[0].bytes, out);
            break;
        case MIME_DISPID_UUENCODEBEGIN:
            status = UuEncodeBegin(args[0].bytes, args[1].bytes, out);
            break;
        case MIME_DISPID_UUENCODEBYTE:
            status = UuEncodeByte(args[0].bytes, out);
            break;
        case MIME_DISPID_UUENCODELINE:
            status = UuEncodeLine(args[0].bytes, out);
            break;
        case MIME_DISPID_UUENCODEEND:
            status = UuEncodeEnd(out);
            break;
        case MIME_DISPID_UUDECODEBEGIN:
            status = UuDecodeBegin(args[0].bytes, out);
            break;
        case MIME_DISPID_UUDECODELINE:
            status = UuDecodeLine(args[0].bytes, out);
            break;
        default:
            return MIME_E_MEMBERNOTFOUND;
    }
    if (status != Status::Ok) {
        // A rejection may come after the allocation (Base64Decode finds zero bytes while decoding).
        MimeStrFree(out.data);
        return FromStatus(status, excep);
    }
    StrSetLength(out.data, out.length);
    produced.type = MIME_VT_BSTR;
    produced.value.bstr = out.data;
    return MIME_S_OK;
}

MimeResult ControlInvoke(MimeDispatch* self, int32_t dispid, uint16_t flags, const MimeVariant* args, uint32_t count,
                         MimeVariant* result, MimeExcepInfo* excep) {
    const MimeMemberInfo* member = FindMember(dispid);
    if (member == nullptr)
        return Fail(excep, MIME_E_MEMBERNOTFOUND, 438, "Object doesn't support this property or method");
    const bool assigning = (flags & (MIME_DISPATCH_PROPERTYPUT | MIME_DISPATCH_PROPERTYPUTREF)) != 0;
    if (member->kind == MIME_MEMBER_PROPERTY_READONLY && assigning)
        return Fail(excep, MIME_E_SETNOTSUPPORTED, 383, kSetNotSupportedText);
    if (assigning || (flags & (MIME_DISPATCH_METHOD | MIME_DISPATCH_PROPERTYGET)) == 0)
        return Fail(excep, MIME_E_MEMBERNOTFOUND, 438, "Object doesn't support this property or method");
    if (count != member->param_count || (count > 0 && args == nullptr))
        return Fail(excep, MIME_E_BADPARAMCOUNT, 450, "Wrong number of arguments or invalid property assignment");
    Argument values[2];
    for (std::uint32_t k = 0; k < count; ++k)
        if (!ReadArgument(args[k], values[k])) return Fail(excep, MIME_E_TYPEMISMATCH, 13, "Type mismatch");

    MimeVariant produced{};
    switch (dispid) {
        case MIME_DISPID_COPYRIGHT:
            produced.type = MIME_VT_BSTR;
            produced.value.bstr = MimeStrAlloc(kCopyrightText, std::strlen(kCopyrightText));
            if (produced.value.bstr == nullptr) return FromStatus(Status::OutOfMemory, excep);
            break;
        case MIME_DISPID_VERSION:
            produced.type = MIME_VT_I2;
            produced.value.i2 = Self(self)->version;
            break;
        case MIME_DISPID_ABOUTBOX:
            if (ShowAboutBox() != 0) return Fail(excep, MIME_E_FAIL, 5, kNoDisplayText);
            break;
        default: {
            const MimeResult r = RunConversion(dispid, values, produced, excep);
            if (r != MIME_S_OK) return r;
        }
    }
    if (result != nullptr)
        *result = produced;
    else
        MimeVariantClear(&produced);
    return MIME_S_OK;
}

MimeResult ControlSaveState(MimeDispatch*, void* buffer, size_t size, size_t* written) {
    constexpr std::size_t kSize = 12;
    if (written != nullptr) *written = kSize;
    if (buffer == nullptr) return MIME_E_POINTER;
    if (size < kSize) return MIME_E_FAIL;
    auto* b = static_cast<unsigned char*>(buffer);
    const std::uint32_t words[3] = {kStateFormat, kExtentPixels, kExtentPixels};
    for (int w = 0; w < 3; ++w)
        for (int k = 0; k < 4; ++k) b[4 * w + k] = static_cast<unsigned char>(words[w] >> (8 * k));
    return MIME_S_OK;
}

MimeResult ControlLoadState(MimeDispatch* self, const void* buffer, size_t size) {
    if (buffer == nullptr) return MIME_E_POINTER;
    if (size < 4) return MIME_E_FAIL;
    const auto* b = static_cast<const unsigned char*>(buffer);
    const std::uint32_t format = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    Self(self)->version = format < kStateFormat ? kVersionOfOldState : kVersion;
    return MIME_S_OK;
}

const MimeDispatchVtbl kControlVtbl = {ControlQueryInterface, ControlAddRef,    ControlRelease,  ControlGetIDOfName,
                                       ControlInvoke,         ControlSaveState, ControlLoadState};

PropertyPage* Page(MimePropertyPage* p) { return reinterpret_cast<PropertyPage*>(p); }
uint32_t PageAddRef(MimePropertyPage* self) { return ++Page(self)->refs; }
uint32_t PageRelease(MimePropertyPage* self) {
    const std::uint32_t left = --Page(self)->refs;
    if (left == 0) {
        delete Page(self);
        --g_liveObjects;
    }
    return left;
}
MimeResult PageQueryInterface(MimePropertyPage* self, const MimeGuid* iid, void** object) {
    if (object == nullptr) return MIME_E_POINTER;
    *object = nullptr;
    if (!SameGuid(iid, IID_MimePropertyPage) && !SameGuid(iid, IID_MimeUnknown)) return MIME_E_NOINTERFACE;
    PageAddRef(self);
    *object = self;
    return MIME_S_OK;
}
const char* PageCaption(MimePropertyPage*) { return kPropertyPageCaption; }
const char* PageText(MimePropertyPage*) { return kPropertyPageText; }
MimeResult PageShow(MimePropertyPage*) { return ShowPropertyPage() == 0 ? MIME_S_OK : MIME_E_FAIL; }

const MimePropertyPageVtbl kPageVtbl = {PageQueryInterface, PageAddRef, PageRelease, PageCaption, PageText, PageShow};

// Class factories are static objects; only the objects they make and LockServer keep the
// library busy.
struct Factory {
    MimeClassFactory base;
    bool page;
};

MimeResult FactoryQueryInterface(MimeClassFactory* self, const MimeGuid* iid, void** object) {
    if (object == nullptr) return MIME_E_POINTER;
    *object = nullptr;
    if (!SameGuid(iid, IID_MimeClassFactory) && !SameGuid(iid, IID_MimeUnknown)) return MIME_E_NOINTERFACE;
    *object = self;
    return MIME_S_OK;
}
uint32_t FactoryAddRef(MimeClassFactory*) { return 2; }
uint32_t FactoryRelease(MimeClassFactory*) { return 1; }

MimeResult FactoryCreateInstance(MimeClassFactory* self, const MimeGuid* iid, void** object) {
    if (object == nullptr) return MIME_E_POINTER;
    *object = nullptr;
    const bool page = reinterpret_cast<Factory*>(self)->page;
    if (!SameGuid(iid, IID_MimeUnknown) && !SameGuid(iid, page ? IID_MimePropertyPage : DIID__DMime))
        return MIME_E_NOINTERFACE;
    if (page) {
        auto* p = new (std::nothrow) PropertyPage{{&kPageVtbl}};
        if (p == nullptr) return MIME_E_OUTOFMEMORY;
        ++g_liveObjects;
        *object = p;
    } else {
        auto* c = new (std::nothrow) Control{{&kControlVtbl}};
        if (c == nullptr) return MIME_E_OUTOFMEMORY;
        ++g_liveObjects;
        *object = c;
    }
    return MIME_S_OK;
}

MimeResult FactoryLockServer(MimeClassFactory*, int32_t lock) {
    if (lock)
        ++g_locks;
    else if (g_locks.load() > 0)
        --g_locks;
    return MIME_S_OK;
}

const MimeClassFactoryVtbl kFactoryVtbl = {FactoryQueryInterface, FactoryAddRef, FactoryRelease, FactoryCreateInstance,
                                           FactoryLockServer};
Factory g_controlFactory{{&kFactoryVtbl}, false};
Factory g_pageFactory{{&kFactoryVtbl}, true};

}  // namespace
}  // namespace talveron::mime

using namespace talveron::mime;

extern "C" {

size_t MimeBase64WholeGroupsPrefix(const char* text, size_t length) {
    return text == nullptr ? 0 : Base64WholeGroupsPrefix(std::string_view(text, length));
}

uint32_t MimeMemberCount(void) { return kMemberCount; }

const MimeMemberInfo* MimeMemberAt(uint32_t index) { return index < kMemberCount ? &kMembers[index] : nullptr; }

MimeResult DllGetClassObject(const MimeGuid* clsid, const MimeGuid* iid, void** object) {
    if (object == nullptr) return MIME_E_POINTER;
    *object = nullptr;
    Factory* factory = nullptr;
    if (SameGuid(clsid, CLSID_Mime))
        factory = &g_controlFactory;
    else if (SameGuid(clsid, CLSID_MimePropPage))
        factory = &g_pageFactory;
    else
        return MIME_E_CLASSNOTAVAILABLE;
    return FactoryQueryInterface(&factory->base, iid, object);
}

MimeResult DllCanUnloadNow(void) { return g_liveObjects.load() == 0 && g_locks.load() == 0 ? MIME_S_OK : MIME_S_FALSE; }

MimeDispatch* MimeCreate(void) {
    void* object = nullptr;
    FactoryCreateInstance(&g_controlFactory.base, &DIID__DMime, &object);
    return static_cast<MimeDispatch*>(object);
}

void MimeRelease(MimeDispatch* object) {
    if (object != nullptr) object->vtbl->Release(object);
}

MimeResult MimeGetIDOfName(MimeDispatch* object, const char* name, int32_t* dispid) {
    if (object == nullptr) return MIME_E_POINTER;
    return object->vtbl->GetIDOfName(object, name, dispid);
}

MimeResult MimeInvoke(MimeDispatch* object, int32_t dispid, uint16_t flags, const MimeVariant* args, uint32_t count,
                      MimeVariant* result, MimeExcepInfo* excep) {
    if (object == nullptr) return MIME_E_POINTER;
    return object->vtbl->Invoke(object, dispid, flags, args, count, result, excep);
}
}
