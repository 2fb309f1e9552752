// Registration in the per-user registry file. One entry a line, "KEY = VALUE", keys with
// backslash-separated parts; other components' entries in the same file are kept as they are.
#include "mime.h"
#include "registry_file.h"

#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace talveron::mime {
namespace {

std::string GuidText(const MimeGuid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

std::string LibraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) == 0 || info.dli_fname == nullptr) return {};
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

std::string Directory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Set client site first, invisible at run time, cannot link inside, inside-out, activate
// when visible, recompose on resize: 0x20591, written in decimal as hosts read it.
constexpr unsigned kMiscStatus = 0x20000 | 0x400 | 0x100 | 0x80 | 0x10 | 0x1;
static_assert(kMiscStatus == 0x20591);

using Entries = std::vector<std::pair<std::string, std::string>>;

const std::string kLib = "TypeLib\\" + GuidText(LIBID_MIMELib) + "\\1.4";
const std::string kControl = "CLSID\\" + GuidText(CLSID_Mime);
const std::string kPage = "CLSID\\" + GuidText(CLSID_MimePropPage);
const std::string kDispatch = "Interface\\" + GuidText(DIID__DMime);
const std::string kEvents = "Interface\\" + GuidText(DIID__DMimeEvents);

Entries TypeLibraryEntries(const std::string& library) {
    const std::string lib = GuidText(LIBID_MIMELib);
    return {
        {kLib, "MIMELib"},
        {kLib + "\\409\\linux", library},  // locale 0x409
        {kLib + "\\FLAGS", "0"},
        {kLib + "\\HELPDIR", Directory(library)},
        {kDispatch, "_DMime"},
        {kDispatch + "\\TypeLib", lib},
        {kDispatch + "\\TypeLib\\Version", "1.4"},
        {kEvents, "_DMimeEvents"},
        {kEvents + "\\TypeLib", lib},
        {kEvents + "\\TypeLib\\Version", "1.4"},
    };
}

Entries ClassEntries(const std::string& library) {
    return {
        {kControl, "Mime Control"},
        {kControl + "\\InprocServer", library},
        {kControl + "\\InprocServer\\ThreadingModel", "Apartment"},
        {kControl + "\\ProgID", "MIME.MimeCtrl.1"},
        {kControl + "\\Control", ""},
        {kControl + "\\ToolboxBitmap", library + ", 1"},
        {kControl + "\\TypeLib", GuidText(LIBID_MIMELib)},
        {kControl + "\\Version", "1.4"},
        {kControl + "\\MiscStatus", "0"},
        {kControl + "\\MiscStatus\\1", std::to_string(kMiscStatus)},
        {"MIME.MimeCtrl.1", "Mime Control"},
        {"MIME.MimeCtrl.1\\CLSID", GuidText(CLSID_Mime)},
        {kPage, "Mime Property Page"},
        {kPage + "\\InprocServer", library},
        {kPage + "\\InprocServer\\ThreadingModel", "Apartment"},
        {kPage + "\\ProgID", "MIME.MimePropPage.1"},
        {"MIME.MimePropPage.1", "Mime Property Page"},
        {"MIME.MimePropPage.1\\CLSID", GuidText(CLSID_MimePropPage)},
    };
}

bool Add(const Entries& entries) {
    RegistryFile file;
    if (!file.Load(RegistryFilePath())) return false;
    for (const auto& [key, value] : entries) file.Set(key, value);
    return file.Save();
}

bool Remove(const std::vector<std::string>& trees) {
    RegistryFile file;
    if (!file.Load(RegistryFilePath())) return false;
    bool changed = false;
    for (const auto& tree : trees) changed |= file.RemoveTree(tree);
    return !changed || file.Save();
}

}  // namespace
}  // namespace talveron::mime

using namespace talveron::mime;

extern "C" {

MimeResult DllRegisterServer(void) {
    const std::string library = LibraryPath();
    if (!Add(TypeLibraryEntries(library))) return MIME_E_SELFREG_TYPELIB;
    if (!Add(ClassEntries(library))) return MIME_E_SELFREG_CLASS;
    return MIME_S_OK;
}

MimeResult DllUnregisterServer(void) {
    if (!Remove({kLib, kDispatch, kEvents})) return MIME_E_SELFREG_TYPELIB;
    if (!Remove({kControl, kPage, "MIME.MimeCtrl.1", "MIME.MimePropPage.1"})) return MIME_E_SELFREG_CLASS;
    return MIME_S_OK;
}
}
