// Text lookups: LangText with a language file loaded (keys found in the file, keys only
// in the English table, unknown keys, in mixed case), and with English current.
#include "files/Language.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace bifuel {
namespace {

namespace fs = std::filesystem;

// A language folder holding one file with a text for every second English key, in code
// page 1252 with umlauts, as a real translation would be.
class LoadedLanguage {
  public:
    LoadedLanguage() {
        std::string pattern = (fs::temp_directory_path() / "bifuel-language-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        dir_ = pattern;
        std::ofstream out(dir_ / "Deutsch.lng", std::ios::binary);
        out << "{ bench }\r\nSingle_Byte_Character 1252\r\n";
        int n = 0;
        for (const EnglishEntry& e : EnglishEntries()) {
            if (n++ % 2 == 0)
                out << e.key
                    << " \xDC"
                       "bersetzung f\xFCr "
                    << e.text << "\r\n";
        }
        out.close();
        language.setLanguageDir(dir_);
        language.setCurrent("Deutsch");
        language.OpenLanguage();

        // Varied keys in the case callers write them, upper and lower case, and a few
        // that neither table knows.
        n = 0;
        for (const EnglishEntry& e : EnglishEntries()) {
            std::string key(e.key);
            if (n % 3 == 1)
                for (char& c : key)
                    c = AsciiUpper(c);
            if (n % 3 == 2)
                for (char& c : key)
                    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            keys.push_back(std::move(key));
            if (n++ % 16 == 0) keys.push_back("Unknown_Key_" + std::to_string(n));
        }
    }
    ~LoadedLanguage() {
        language.CloseLanguage();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    Language language;
    std::vector<std::string> keys;

  private:
    fs::path dir_;
};

void BM_LangTextLoaded(benchmark::State& state) {
    LoadedLanguage loaded;
    if (loaded.language.Lang_Keys().empty()) state.SkipWithError("language file not loaded");
    std::size_t i = 0;
    for (auto _ : state) {
        std::string text = loaded.language.LangText(loaded.keys[i]);
        benchmark::DoNotOptimize(text);
        if (++i == loaded.keys.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LangTextLoaded)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_LangTextEnglish(benchmark::State& state) {
    Language language;
    std::vector<std::string> keys;
    for (const EnglishEntry& e : EnglishEntries())
        keys.emplace_back(e.key);
    std::size_t i = 0;
    for (auto _ : state) {
        std::string text = language.LangText(keys[i]);
        benchmark::DoNotOptimize(text);
        if (++i == keys.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LangTextEnglish)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
