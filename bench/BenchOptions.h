// The benchmarks' command lines: "--key value" pairs, each key one the
// benchmark knows. A typo stops the run with its usage line instead of
// silently measuring the defaults.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace lumivane::bench {

class BenchOptions {
public:
    BenchOptions(int argc, char** argv, std::vector<std::string> keys, std::string usage)
        : m_program(argv[0]) {
        for (int i = 1; i < argc; i += 2) {
            const std::string key = argv[i];
            if (std::find(keys.begin(), keys.end(), key) == keys.end() || i + 1 >= argc) {
                std::fprintf(stderr, "%s: %s %s\nusage: %s %s\n", argv[0], key.c_str(),
                             i + 1 >= argc ? "needs a value" : "is not an option", argv[0],
                             usage.c_str());
                std::exit(2);
            }
            m_values[key] = argv[i + 1];
        }
    }

    std::optional<std::string> text(const std::string& key) const {
        auto found = m_values.find(key);
        if (found == m_values.end()) return std::nullopt;
        return found->second;
    }
    std::string text(const std::string& key, std::string fallback) const {
        return text(key).value_or(std::move(fallback));
    }
    // A count of at least 1.
    int count(const std::string& key, int fallback) const {
        auto value = text(key);
        return value ? std::max(1, std::atoi(value->c_str())) : fallback;
    }
    int integer(const std::string& key, int fallback) const {
        auto value = text(key);
        return value ? std::atoi(value->c_str()) : fallback;
    }
    double number(const std::string& key, double fallback) const {
        auto value = text(key);
        return value ? std::atof(value->c_str()) : fallback;
    }
    std::vector<int> integers(const std::string& key, std::vector<int> fallback) const {
        auto value = text(key);
        if (!value) return fallback;
        std::vector<int> out;
        std::stringstream stream(*value);
        for (std::string item; std::getline(stream, item, ',');)
            out.push_back(std::atoi(item.c_str()));
        return out;
    }
    // "WxH[,WxH...]"; items that do not read as a size are left out.
    std::vector<std::pair<int, int>> sizes(const std::string& key,
                                           std::vector<std::pair<int, int>> fallback) const {
        auto value = text(key);
        if (!value) return fallback;
        std::vector<std::pair<int, int>> out;
        std::stringstream stream(*value);
        for (std::string item; std::getline(stream, item, ',');) {
            int w = 0, h = 0;
            if (std::sscanf(item.c_str(), "%dx%d", &w, &h) == 2) out.emplace_back(w, h);
        }
        return out;
    }
    // The bundled demo, found beside the benchmark as every program finds its resources.
    std::string composition() const {
        return text("--composition", (std::filesystem::path(m_program).parent_path() /
                                      "../share/lumivane/compositions/demo.qtz")
                                         .string());
    }

private:
    std::string m_program;
    std::map<std::string, std::string> m_values;
};

}  // namespace lumivane::bench
