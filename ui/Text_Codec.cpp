#include "Text_Codec.h"

#include "Hud_Widgets.h"

#include "files/Code_Page.h"

namespace bifuel::ui {

QString DecodeBytes(const std::string& bytes, std::uint16_t codePage) {
    return FromUtf8(IsUtf8(bytes) ? bytes : CodePageToUtf8(bytes, codePage));
}

QString BoxBytes::show(const std::string& bytes, std::uint16_t codePage) {
    bytes_ = bytes;
    inCodePage_ = !IsUtf8(bytes);
    codePage_ = codePage;
    shown_ = DecodeBytes(bytes, codePage);
    return shown_;
}

std::string BoxBytes::read(const QString& now, bool& asUtf8) const {
    if (now == shown_) return bytes_;
    std::string utf8 = ToUtf8(now);
    if (!inCodePage_) return utf8;
    if (std::optional<std::string> inPage = Utf8ToCodePage(utf8, codePage_))
        return std::move(*inPage);
    asUtf8 = true;
    return utf8;
}

} // namespace bifuel::ui
