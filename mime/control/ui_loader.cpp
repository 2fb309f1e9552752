#include "control_internal.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace talveron::mime {
namespace {

using DialogFunction = int (*)(const char* title, const char* text);

struct Ui {
    DialogFunction about = nullptr;
    DialogFunction page = nullptr;
};

// libmime-ui sits beside libmime; look there first, then on the loader's path.
Ui LoadUi() {
    Ui ui;
    std::string path = "libmime-ui.so";
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LoadUi), &info) != 0 && info.dli_fname != nullptr) {
        std::string self = info.dli_fname;
        const std::size_t slash = self.rfind('/');
        if (slash != std::string::npos) path = self.substr(0, slash + 1) + "libmime-ui.so";
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) handle = dlopen("libmime-ui.so", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return ui;
    ui.about = reinterpret_cast<DialogFunction>(dlsym(handle, "TalveronMimeUiAboutBox"));
    ui.page = reinterpret_cast<DialogFunction>(dlsym(handle, "TalveronMimeUiPropertyPage"));
    return ui;  // kept loaded: Qt does not unload cleanly
}

const Ui& TheUi() {
    static std::once_flag once;
    static Ui ui;
    std::call_once(once, [] { ui = LoadUi(); });
    return ui;
}

}  // namespace

int ShowAboutBox() {
    const Ui& ui = TheUi();
    return ui.about ? ui.about("About Mime Control", kCopyrightText) : -1;
}

int ShowPropertyPage() {
    const Ui& ui = TheUi();
    return ui.page ? ui.page(kPropertyPageCaption, kPropertyPageText) : -1;
}

}  // namespace talveron::mime
