// The control through its public C header only, as any client sees it.
#include "mime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace std::string_literals;

namespace {

struct Str {
    MimeBStr s = nullptr;
    explicit Str(const std::string& bytes) : s(MimeStrAlloc(bytes.data(), bytes.size())) {}
    Str() = default;
    ~Str() { MimeStrFree(s); }
    Str(const Str&) = delete;
    Str& operator=(const Str&) = delete;
};

std::string Bytes(MimeBStr s) { return std::string(s, MimeStrLen(s)); }

class Control : public ::testing::Test {
  protected:
    void SetUp() override {
        mime = MimeCreate();
        ASSERT_NE(mime, nullptr);
    }
    void TearDown() override { MimeRelease(mime); }

    // Calls a member by name with by-reference string arguments (nullptr = the null string).
    MimeResult Call(const char* name, std::initializer_list<const std::string*> values, MimeVariant& result,
                    MimeExcepInfo& excep, uint16_t flags = MIME_DISPATCH_METHOD) {
        int32_t id = 0;
        EXPECT_EQ(MimeGetIDOfName(mime, name, &id), MIME_S_OK) << name;
        MimeBStr strings[4] = {};
        MimeVariant args[4] = {};
        uint32_t n = 0;
        for (const std::string* v : values) {
            strings[n] = v ? MimeStrAlloc(v->data(), v->size()) : nullptr;
            args[n].type = MIME_VT_BSTR | MIME_VT_BYREF;
            args[n].value.pbstr = &strings[n];
            ++n;
        }
        MimeBStr before[4];
        std::memcpy(before, strings, sizeof strings);
        std::string contents[4];
        for (uint32_t k = 0; k < n; ++k) contents[k] = strings[k] ? Bytes(strings[k]) : "";
        const MimeResult r = MimeInvoke(mime, id, flags, args, n, &result, &excep);
        for (uint32_t k = 0; k < n; ++k) {  // arguments are left unchanged
            EXPECT_EQ(strings[k], before[k]);
            if (strings[k]) {
                EXPECT_EQ(Bytes(strings[k]), contents[k]);
            }
            MimeStrFree(strings[k]);
        }
        return r;
    }

    std::string Text(const char* name, std::initializer_list<const std::string*> values) {
        MimeVariant result{};
        MimeExcepInfo excep{};
        EXPECT_EQ(Call(name, values, result, excep), MIME_S_OK) << name;
        EXPECT_EQ(result.type, MIME_VT_BSTR);
        std::string out = result.value.bstr ? Bytes(result.value.bstr) : "<null>";
        MimeVariantClear(&result);
        return out;
    }

    MimeDispatch* mime = nullptr;
};

const char* const kSourceMethods[] = {"Base64Encode",          "Base64Decode",     "QuotedPrintableEncode",
                                      "QuotedPrintableDecode", "MimeHeaderEncode", "MimeHeaderDecode",
                                      "UuDecodeLine",          "UuEncodeLine"};

}  // namespace

TEST(TypeInformation, MembersInDispatchIdOrder) {
    const int32_t ids[] = {1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16, -552};
    const char* names[] = {"Copyright",
                           "Base64Encode",
                           "Base64Decode",
                           "QuotedPrintableEncode",
                           "QuotedPrintableDecode",
                           "MimeHeaderEncode",
                           "MimeHeaderDecode",
                           "UuEncodeBegin",
                           "UuEncodeByte",
                           "UuEncodeLine",
                           "UuEncodeEnd",
                           "UuDecodeBegin",
                           "UuDecodeLine",
                           "Version",
                           "AboutBox"};
    ASSERT_EQ(MimeMemberCount(), 15u);
    for (uint32_t k = 0; k < 15; ++k) {
        const MimeMemberInfo* m = MimeMemberAt(k);
        EXPECT_EQ(m->dispid, ids[k]);
        EXPECT_STREQ(m->name, names[k]);
    }
    EXPECT_EQ(MimeMemberAt(15), nullptr);
    EXPECT_EQ(MimeMemberAt(0)->kind, MIME_MEMBER_PROPERTY_READONLY);
    EXPECT_EQ(MimeMemberAt(13)->result_type, MIME_VT_I2);
    EXPECT_EQ(MimeMemberAt(7)->param_count, 2u);
    EXPECT_STREQ(MimeMemberAt(7)->param_names[1], "Permission");
    EXPECT_EQ(MimeMemberAt(10)->param_count, 0u);
    EXPECT_EQ(MimeMemberAt(14)->result_type, MIME_VT_EMPTY);
}

TEST_F(Control, CallsByIdAndByAnyCaseOfName) {
    int32_t id = 0;
    EXPECT_EQ(MimeGetIDOfName(mime, "base64encode", &id), MIME_S_OK);
    EXPECT_EQ(id, MIME_DISPID_BASE64ENCODE);
    EXPECT_EQ(MimeGetIDOfName(mime, "Nope", &id), MIME_E_UNKNOWNNAME);
    Str source("abc");
    MimeVariant arg{};
    arg.type = MIME_VT_BSTR;  // by value works too
    arg.value.bstr = source.s;
    MimeVariant result{};
    MimeExcepInfo excep{};
    ASSERT_EQ(mime->vtbl->Invoke(mime, MIME_DISPID_BASE64ENCODE, MIME_DISPATCH_METHOD, &arg, 1, &result, &excep),
              MIME_S_OK);
    EXPECT_EQ(Bytes(result.value.bstr), "YWJj");
    MimeVariantClear(&result);
    EXPECT_EQ(MimeInvoke(mime, 2, MIME_DISPATCH_METHOD, nullptr, 0, &result, &excep), MIME_E_MEMBERNOTFOUND);
    EXPECT_EQ(excep.code, 438);
}

TEST_F(Control, NullSourceGivesNullAndEmptyGivesEmpty) {
    const std::string empty;
    for (const char* name : kSourceMethods) {
        EXPECT_EQ(Text(name, {nullptr}), "<null>") << name;
        EXPECT_EQ(Text(name, {&empty}), "") << name;
    }
    EXPECT_EQ(Text("UuEncodeByte", {nullptr}), "<null>");
    EXPECT_EQ(Text("UuEncodeByte", {&empty}), "`");
    EXPECT_EQ(Text("UuDecodeBegin", {nullptr}), "<null>");
    const std::string name = "x.txt", perm = "644";
    EXPECT_EQ(Text("UuEncodeBegin", {nullptr, &perm}), "begin 644 dummy");
    EXPECT_EQ(Text("UuEncodeBegin", {&name, nullptr}), "begin  x.txt");
}

TEST_F(Control, ConvertsThroughTheDispatchLayer) {
    const std::string zeros = "a\0b"s, head = "begin 644 a b.txt", line = "#86)C";
    EXPECT_EQ(Text("Base64Encode", {&zeros}), "YQBi");
    EXPECT_EQ(Text("QuotedPrintableDecode", {&zeros}), "a");
    EXPECT_EQ(Text("UuEncodeLine", {&zeros}), "80!B");
    EXPECT_EQ(Text("UuDecodeBegin", {&head}), "a b.txt");
    EXPECT_EQ(Text("UuDecodeLine", {&line}), "abc");
    MimeVariant result{};
    MimeExcepInfo excep{};
    ASSERT_EQ(Call("UuEncodeEnd", {}, result, excep), MIME_S_OK);
    EXPECT_EQ(Bytes(result.value.bstr), "`\r\nend\r\n");
    MimeVariantClear(&result);
}

TEST_F(Control, ZeroBytesAreRejectedWhereTheInputIsText) {
    const std::string zero = "ab\0c"s, ok = "x";
    const char* rejecting[] = {"Base64Decode",     "QuotedPrintableEncode", "MimeHeaderEncode",
                               "MimeHeaderDecode", "UuDecodeBegin",         "UuDecodeLine"};
    for (const char* name : rejecting) {
        MimeVariant result{};
        result.type = MIME_VT_I2;
        result.value.i2 = 77;
        MimeExcepInfo excep{};
        EXPECT_EQ(Call(name, {&zero}, result, excep), MIME_E_INVALIDVALUE) << name;
        EXPECT_EQ(excep.code, 29904);
        EXPECT_STREQ(excep.description, "プロパティの値が不正です。");
        EXPECT_EQ(result.type, MIME_VT_I2);  // no result on failure
        EXPECT_EQ(result.value.i2, 77);
    }
    for (auto args : {std::initializer_list<const std::string*>{&zero, &ok}, {&ok, &zero}}) {
        MimeVariant result{};
        MimeExcepInfo excep{};
        EXPECT_EQ(Call("UuEncodeBegin", args, result, excep), MIME_E_INVALIDVALUE);
    }
    const std::string notBegin = "BEGIN 644 x";
    MimeVariant result{};
    MimeExcepInfo excep{};
    EXPECT_EQ(Call("UuDecodeBegin", {&notBegin}, result, excep), MIME_E_INVALIDVALUE);
}

TEST_F(Control, PropertiesAreReadOnly) {
    MimeVariant result{};
    MimeExcepInfo excep{};
    ASSERT_EQ(Call("Version", {}, result, excep, MIME_DISPATCH_PROPERTYGET), MIME_S_OK);
    EXPECT_EQ(result.type, MIME_VT_I2);
    EXPECT_EQ(result.value.i2, 104);
    ASSERT_EQ(Call("Copyright", {}, result, excep, MIME_DISPATCH_PROPERTYGET), MIME_S_OK);
    const std::string copyright = Bytes(result.value.bstr);
    EXPECT_NE(copyright.find("Mime Control"), std::string::npos);
    EXPECT_NE(copyright.find("1.04"), std::string::npos);
    MimeVariantClear(&result);

    MimeVariant value{};
    value.type = MIME_VT_I2;
    value.value.i2 = 1;
    for (int32_t id : {MIME_DISPID_VERSION, MIME_DISPID_COPYRIGHT}) {
        excep = {};
        EXPECT_EQ(MimeInvoke(mime, id, MIME_DISPATCH_PROPERTYPUT, &value, 1, nullptr, &excep), MIME_E_SETNOTSUPPORTED);
        EXPECT_EQ(excep.code, 383);
    }
    ASSERT_EQ(Call("Version", {}, result, excep, MIME_DISPATCH_PROPERTYGET), MIME_S_OK);
    EXPECT_EQ(result.value.i2, 104);
}

TEST_F(Control, WrongArgumentsAreReported) {
    MimeVariant result{};
    MimeExcepInfo excep{};
    EXPECT_EQ(MimeInvoke(mime, MIME_DISPID_BASE64ENCODE, MIME_DISPATCH_METHOD, nullptr, 0, &result, &excep),
              MIME_E_BADPARAMCOUNT);
    MimeVariant number{};
    number.type = MIME_VT_I2;
    EXPECT_EQ(MimeInvoke(mime, MIME_DISPID_BASE64ENCODE, MIME_DISPATCH_METHOD, &number, 1, &result, &excep),
              MIME_E_TYPEMISMATCH);
    EXPECT_EQ(result.type, MIME_VT_EMPTY);
}

TEST_F(Control, PersistedStateCarriesTheFormatVersion) {
    unsigned char state[16] = {};
    size_t written = 0;
    ASSERT_EQ(mime->vtbl->SaveState(mime, state, sizeof state, &written), MIME_S_OK);
    ASSERT_EQ(written, 12u);
    EXPECT_EQ(state[0] | state[1] << 8 | state[2] << 16 | state[3] << 24, 0x00010004);
    EXPECT_EQ(mime->vtbl->SaveState(mime, state, 4, &written), MIME_E_FAIL);

    MimeVariant result{};
    MimeExcepInfo excep{};
    const unsigned char old[12] = {0x00, 0x00, 0x01, 0x00};  // format 1.0
    ASSERT_EQ(mime->vtbl->LoadState(mime, old, sizeof old), MIME_S_OK);
    ASSERT_EQ(MimeInvoke(mime, MIME_DISPID_VERSION, MIME_DISPATCH_PROPERTYGET, nullptr, 0, &result, &excep), MIME_S_OK);
    EXPECT_EQ(result.value.i2, 100);
    ASSERT_EQ(mime->vtbl->LoadState(mime, state, written), MIME_S_OK);
    ASSERT_EQ(MimeInvoke(mime, MIME_DISPID_VERSION, MIME_DISPATCH_PROPERTYGET, nullptr, 0, &result, &excep), MIME_S_OK);
    EXPECT_EQ(result.value.i2, 104);
    EXPECT_EQ(mime->vtbl->LoadState(mime, state, 2), MIME_E_FAIL);
}

TEST(ClassObjects, FactoriesObjectsAndUnloading) {
    MimeClassFactory* factory = nullptr;
    EXPECT_EQ(DllGetClassObject(&DIID__DMime, &IID_MimeClassFactory, reinterpret_cast<void**>(&factory)),
              MIME_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(DllGetClassObject(&CLSID_Mime, &IID_MimeClassFactory, reinterpret_cast<void**>(&factory)), MIME_S_OK);
    EXPECT_EQ(DllCanUnloadNow(), MIME_S_OK);

    MimeDispatch* control = nullptr;
    EXPECT_EQ(factory->vtbl->CreateInstance(factory, &IID_MimePropertyPage, reinterpret_cast<void**>(&control)),
              MIME_E_NOINTERFACE);
    ASSERT_EQ(factory->vtbl->CreateInstance(factory, &DIID__DMime, reinterpret_cast<void**>(&control)), MIME_S_OK);
    EXPECT_EQ(DllCanUnloadNow(), MIME_S_FALSE);
    MimeDispatch* again = nullptr;
    ASSERT_EQ(control->vtbl->QueryInterface(control, &IID_MimeUnknown, reinterpret_cast<void**>(&again)), MIME_S_OK);
    EXPECT_EQ(again, control);
    control->vtbl->Release(again);
    control->vtbl->Release(control);
    EXPECT_EQ(DllCanUnloadNow(), MIME_S_OK);

    factory->vtbl->LockServer(factory, 1);
    EXPECT_EQ(DllCanUnloadNow(), MIME_S_FALSE);
    factory->vtbl->LockServer(factory, 0);
    EXPECT_EQ(DllCanUnloadNow(), MIME_S_OK);

    MimeClassFactory* pages = nullptr;
    ASSERT_EQ(DllGetClassObject(&CLSID_MimePropPage, &IID_MimeClassFactory, reinterpret_cast<void**>(&pages)),
              MIME_S_OK);
    MimePropertyPage* page = nullptr;
    ASSERT_EQ(pages->vtbl->CreateInstance(pages, &IID_MimePropertyPage, reinterpret_cast<void**>(&page)), MIME_S_OK);
    EXPECT_STREQ(page->vtbl->Caption(page), "General");
    EXPECT_NE(std::string(page->vtbl->Text(page)).find("no properties"), std::string::npos);
    EXPECT_EQ(DllCanUnloadNow(), MIME_S_FALSE);
    page->vtbl->Release(page);
    EXPECT_EQ(DllCanUnloadNow(), MIME_S_OK);
}

TEST(ClassObjects, DialogsWithoutADisplayFailInsteadOfAborting) {
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(v);
    MimeDispatch* mime = MimeCreate();
    MimeExcepInfo excep{};
    EXPECT_EQ(MimeInvoke(mime, MIME_DISPID_ABOUTBOX, MIME_DISPATCH_METHOD, nullptr, 0, nullptr, &excep), MIME_E_FAIL);
    MimeRelease(mime);
}

class Registration : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("mime-reg-" + std::to_string(getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        file = dir / "sub" / "registry";
        setenv("MIME_REGISTRY_FILE", file.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("MIME_REGISTRY_FILE");
        std::filesystem::remove_all(dir);
    }
    std::string Contents() {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::filesystem::path dir, file;
};

TEST_F(Registration, RegisterWritesAndUnregisterRemovesOnlyOurEntries) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "Other\\Thing = kept\n";
    ASSERT_EQ(DllRegisterServer(), MIME_S_OK);
    const std::string text = Contents();
    const std::string control = "CLSID\\{179465CA-775A-4E50-8B33-C88945CDB888}";
    for (const std::string& line :
         {"MIME.MimeCtrl.1\\CLSID = {179465CA-775A-4E50-8B33-C88945CDB888}"s, "MIME.MimeCtrl.1 = Mime Control"s,
          "MIME.MimePropPage.1 = Mime Property Page"s, control + " = Mime Control",
          control + "\\InprocServer\\ThreadingModel = Apartment", control + "\\MiscStatus\\1 = 132497",
          control + "\\Version = 1.4", "TypeLib\\{D9410802-826A-4323-B7DA-31AF2BC893DB}\\1.4 = MIMELib"s,
          "Other\\Thing = kept"s})
        EXPECT_NE(text.find(line + "\n"), std::string::npos) << line;
    EXPECT_NE(text.find("libmime.so"), std::string::npos);

    ASSERT_EQ(DllRegisterServer(), MIME_S_OK);  // again: same entries, no duplicates
    EXPECT_EQ(Contents(), text);

    ASSERT_EQ(DllUnregisterServer(), MIME_S_OK);
    const std::string after = Contents();
    EXPECT_EQ(after.find("MIME."), std::string::npos);
    EXPECT_EQ(after.find("CLSID"), std::string::npos);
    EXPECT_EQ(after.find("TypeLib"), std::string::npos);
    EXPECT_NE(after.find("Other\\Thing = kept"), std::string::npos);
    EXPECT_EQ(DllUnregisterServer(), MIME_S_OK);
}

TEST_F(Registration, UnwritablePlaceFailsAtTheTypeLibrary) {
    std::ofstream(dir / "sub") << "a file where the folder should be";
    EXPECT_EQ(DllRegisterServer(), MIME_E_SELFREG_TYPELIB);
}
