#pragma once

#include <clocale>
#include <cstdio>
#include <locale>
#include <sstream>
#include <string>

namespace bifuel::test {

// Locales that write numbers with a decimal comma, on for the life of the object. Every
// number the program shows must keep its point under both.

// The C library's numbers in German (printf and everything built on it). active() is
// false when the system has no German locale.
class GermanCNumbers {
  public:
    GermanCNumbers() {
        const char* now = std::setlocale(LC_NUMERIC, nullptr);
        saved_ = now != nullptr ? now : "C";
        active_ = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    }
    ~GermanCNumbers() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
    GermanCNumbers(const GermanCNumbers&) = delete;
    GermanCNumbers& operator=(const GermanCNumbers&) = delete;

    bool active() const { return active_; }
    // What the C library makes of 0.5 now: "0,5" while the switch works.
    static std::string Probe() {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 0.5);
        return text;
    }

  private:
    std::string saved_;
    bool active_ = false;
};

// The C++ global locale with a decimal comma (streams and anything else that takes the
// global locale). Needs no installed locale; leaves the C library's locale alone.
class CommaGlobalLocale {
    struct Comma : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };

  public:
    CommaGlobalLocale()
        : saved_(std::locale::global(std::locale(std::locale::classic(), new Comma))) {}
    ~CommaGlobalLocale() { std::locale::global(saved_); }
    CommaGlobalLocale(const CommaGlobalLocale&) = delete;
    CommaGlobalLocale& operator=(const CommaGlobalLocale&) = delete;

    // What a stream makes of 0.5 now: "0,5" while the switch works.
    static std::string Probe() {
        std::ostringstream out;
        out << 0.5;
        return out.str();
    }

  private:
    std::locale saved_;
};

} // namespace bifuel::test
