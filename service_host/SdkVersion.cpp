// Version-range matching and the `test_sdkver` command.
#include "SdkVersion.h"

#include <exception>

#include "DecimalText.h"
#include "HostCommands.h"
#include "HostConsole.h"

namespace {

constexpr size_t kVersionComponents = 4;

// Components 1 to 4 of a version text; missing ones are 0, later ones are ignored.
void VersionComponents(const std::string& version, int components[kVersionComponents]) {
    std::vector<std::string> pieces = splitString(version, ".");
    for (size_t i = 0; i < kVersionComponents; ++i) {
        components[i] = i < pieces.size() ? DecimalToInt32(pieces[i].c_str()) : 0;
    }
}

bool MatchSdkVersion(const std::string& infoValue, const std::string& infoItemValue) {
    // The running version may carry a "v" and a "-SNAPSHOT" suffix; the required value is taken
    // as written.
    const std::string sdkver0 = replaceAll(replaceAll(infoValue, "v", ""), "-SNAPSHOT", "");
    const std::string& sdkver1 = infoItemValue;
    HostPrintLine(" sdkver0:", sdkver0, " sdkver1:", sdkver1);
    if (sdkver0.empty()) return false;
    if (sdkver1 == sdkver0) return true;
    if (sdkver1[0] == '>') return compareVersion(sdkver0, sdkver1.substr(1)) > 0;
    if (sdkver1[0] == '<') return compareVersion(sdkver0, sdkver1.substr(1)) < 0;
    return false;
}

struct SdkverCase {
    const char* infoItemValue;
    const char* infoValue;
};

// The fixed cases of `test_sdkver`, run in this order.
const SdkverCase kSdkverCases[] = {
    {"2.12.3", "v2.12.3-SNAPSHOT"},  {"2.12.3", "v2.12.3"},   {"2.12.4", "v2.12.3-SNAPSHOT"},
    {"v2.12.3", "v2.12.3"},          {">2.12.0", "v2.12.3-SNAPSHOT"}, {">2.12.0", "v2.13.3"},
    {">1.120", "v2.12.3-SNAPSHOT"},  {">1.12.5", "v2.12.3"},  {">2.12", "v2.12.3-SNAPSHOT"},
    {">2.12.15", "v2.12.3"},         {"<2.11", "v2.12.3-SNAPSHOT"},   {"<2.12.3", "v2.12.3"},
    {"<2.12.8", "v2.12.3-SNAPSHOT"}, {"<3.12.3", "v2.12.3"},
};

}  // namespace

std::vector<std::string> splitString(const std::string& text, const std::string& delimiters) {
    std::vector<std::string> pieces;
    if (text.empty() || delimiters.empty()) return pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(delimiters, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::string replaceAll(const std::string& text, const std::string& search, const std::string& replacement) {
    std::string result = text;
    if (search.empty()) return result;
    const bool repeat = replacement.size() < search.size();
    size_t from = 0;
    for (size_t at; (at = result.find(search, from)) != std::string::npos;) {
        result.replace(at, search.size(), replacement);
        if (repeat) {
            // Searching again from the start finds nothing before this point: an occurrence that
            // the replacement formed begins at most search.size() - 1 characters earlier.
            from = at >= search.size() - 1 ? at - (search.size() - 1) : 0;
        } else {
            from = at + replacement.size();
        }
    }
    return result;
}

int compareVersion(const std::string& a, const std::string& b) {
    if (a == b) return 0;
    int componentsA[kVersionComponents];
    int componentsB[kVersionComponents];
    VersionComponents(a, componentsA);
    VersionComponents(b, componentsB);
    for (size_t i = 0; i < kVersionComponents; ++i) {
        if (componentsA[i] > componentsB[i]) return 1;
        if (componentsA[i] < componentsB[i]) return -1;
    }
    return 0;
}

bool isMatchConfigItem(const std::string& infoItemKey, const std::string& infoValue, const std::string& infoItemValue) {
    bool isfind = false;
    if (infoItemValue.empty()) {
        isfind = false;
    } else if (infoItemKey != "sdkver") {
        isfind = infoValue == infoItemValue;
    } else {
        try {
            isfind = MatchSdkVersion(infoValue, infoItemValue);
        } catch (const std::exception& error) {
            const char* what = error.what();
            HostPrintLine("isMatchConfigItem exception:", what != nullptr && *what != '\0' ? what : "Unknown exception");
            isfind = false;
        } catch (...) {
            HostPrintLine("isMatchConfigItem exception:", "Unknown exception");
            isfind = false;
        }
    }
    HostPrintLine(" isMatchConfigItem", " infoItemKey:", infoItemKey, " infoValue:", infoValue,
                  " infoItemValue:", infoItemValue, " isfind:", isfind);
    return isfind;
}

int CmdTestSdkver(int /*argc*/, char** /*argv*/) {
    for (const SdkverCase& row : kSdkverCases) {
        isMatchConfigItem("sdkver", row.infoValue, row.infoItemValue);
    }
    return 0;
}
