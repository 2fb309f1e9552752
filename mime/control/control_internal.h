// Texts and services shared inside libmime.
#pragma once

namespace talveron::mime {

inline constexpr const char* kInvalidValueText = "プロパティの値が不正です。";
inline constexpr const char* kOutOfMemoryText = "Out of memory";
inline constexpr const char* kSetNotSupportedText = "Set not supported (read-only property)";
inline constexpr const char* kNoDisplayText = "No display is available for the dialog";
inline constexpr const char* kCopyrightText = "Mime Control Version 1.04, Copyright (C) the Talveron project";
inline constexpr const char* kPropertyPageCaption = "General";
inline constexpr const char* kPropertyPageText = "Mime Control has no properties to set.";

// The dialogs live in libmime-ui (the only part that links Qt), loaded on first use so that
// libmime works on machines without Qt or a display. Both return 0 once the user closed the
// dialog, non-zero when it cannot be shown.
int ShowAboutBox();
int ShowPropertyPage();

}  // namespace talveron::mime
