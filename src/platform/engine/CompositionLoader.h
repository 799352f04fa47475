// Reads a composition document: its JSON header, its passes and imported
// images, and the translated shader stages, which it compiles once so that a
// document that does not compile fails to load.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <memory>
#include <string>

#include "platform/engine/Composition.h"

namespace lumivane {

class CompositionLoader {
public:
    explicit CompositionLoader(std::string path);
    // Throws EngineError "\"<file>\": what failed".
    std::shared_ptr<Composition> load();

private:
    [[noreturn]] void fail(const std::string& what) const;
    void parseHeader(const std::string& text);
    void parseInputs(const nlohmann::json& inputs);
    CompositionInput parseInput(const nlohmann::json& item) const;
    void parsePasses(const nlohmann::json& header);
    void parseImported(const nlohmann::json& imported);
    void checkNames() const;
    void checkSizeExpressions() const;
    void buildSources(const std::string& text);
    void checkCompiles() const;

    std::string m_path;
    std::shared_ptr<Composition> m_composition;
};

}  // namespace lumivane
