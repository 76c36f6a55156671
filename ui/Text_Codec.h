#pragma once

// The record keeps 8-bit texts as the bytes they came in: UTF-8, or the Windows code page of
// the installer's system when they are not valid UTF-8. A text box shows them decoded and
// gives back the same bytes while the user leaves the text alone.

#include <QString>

#include <cstdint>
#include <string>

namespace bifuel::ui {

// The text to show for 8-bit bytes: UTF-8 when they are valid UTF-8, else `codePage`.
QString DecodeBytes(const std::string& bytes, std::uint16_t codePage);

// One text box's bytes and what it showed of them.
class BoxBytes {
  public:
    // Takes the record's bytes; returns the text to put into the box.
    QString show(const std::string& bytes, std::uint16_t codePage);
    // The text as the box holds it once given (a memo turns "\r\n" into "\n").
    void setShown(const QString& text) { shown_ = text; }

    // The bytes for the box's text now: the very bytes it was given while the text is
    // unchanged; a changed text in the encoding its bytes came in, or in UTF-8 when their
    // code page has no byte for one of its characters (then `asUtf8` is set).
    std::string read(const QString& now, bool& asUtf8) const;

    // The bytes came in a code page (not UTF-8), and the one they were shown with.
    bool inCodePage() const { return inCodePage_; }
    std::uint16_t codePage() const { return codePage_; }
    const std::string& bytes() const { return bytes_; }
    const QString& shown() const { return shown_; }

  private:
    std::string bytes_;
    bool inCodePage_ = false;
    std::uint16_t codePage_ = 0;
    QString shown_;
};

} // namespace bifuel::ui
