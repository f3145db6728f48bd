// Scaffolding of the one-camera program's tests: the headless run-time, a
// scratch folder and helpers to read what the program wrote.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "earlier/earlier_state.h"
#include "earlier/wv_earlier.h"
#include "platform/ui/frontend.h"
#include "platform/ui/headless.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "state/instrument_state.h"

namespace pelu::earlier::testing {

inline std::vector<unsigned char> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Output of a shell command, or "" when it cannot be run.
inline std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

// Binds every callback name of a resource file beside the test program to a
// callback that does nothing, so that panels load in tests of one section;
// the test then binds the callbacks it exercises.
inline int InertCallback(int, int, int, void*, int, int) { return 0; }
inline void CollectCallbacks(const nlohmann::json& node, std::vector<std::string>* names) {
    if (node.is_object()) {
        if (auto it = node.find("callback"); it != node.end() && it->is_string())
            names->push_back(it->get<std::string>());
        for (const auto& [key, value] : node.items()) CollectCallbacks(value, names);
    } else if (node.is_array()) {
        for (const auto& value : node) CollectCallbacks(value, names);
    }
}
inline void RegisterInertCallbacks(const std::string& resource) {
    std::ifstream in(os::ExecutableDirectory() + "/" + resource);
    std::vector<std::string> names;
    CollectCallbacks(nlohmann::json::parse(in), &names);
    for (const std::string& name : names) ui::RegisterCallback(name, InertCallback);
}

class EarlierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ui::SetAutomaticTimers(false);
        ResetInstrumentState();
        ResetEarlierState();
        ResetWvTable();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() /
              ("pelu-earlier-" + std::to_string(::getpid()) + "-" + info->test_suite_name() +
               "-" + info->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        ResetInstrumentState();
        std::filesystem::remove_all(dir);
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    std::vector<ui::PopupRecord> Popups() const { return frontEnd.Popups(); }
    std::string LastPopupText() const {
        auto p = frontEnd.Popups();
        return p.empty() ? std::string() : p.back().title + ": " + p.back().text;
    }

    ui::HeadlessFrontEnd frontEnd;
    std::filesystem::path dir;
};

}  // namespace pelu::earlier::testing
