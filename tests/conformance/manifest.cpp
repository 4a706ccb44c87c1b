// Loading the conformance manifest.
#include "tests/conformance/manifest.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace vorx::conformance {

using nlohmann::json;

Expectation ParseExpectation(const json& j) {
    Expectation e;
    for (const json& code : j.at("codes")) e.codes.push_back(code.get<int>());
    e.open = j.value("open", false);
    e.why = j.value("why", std::string());
    return e;
}

std::optional<std::string> Password(const json& j, const std::string& key) {
    const auto it = j.find(key + "_hex");
    if (it == j.end() || it->is_null()) return std::nullopt;
    return FromHex(it->get<std::string>());
}

namespace {

template <typename T>
std::optional<T> Optional(const json& j, const char* key) {
    const auto it = j.find(key);
    if (it == j.end() || it->is_null()) return std::nullopt;
    return it->get<T>();
}

EntryCase ParseEntry(const json& j) {
    EntryCase e;
    e.index = j.at("index").get<uint64_t>();
    e.name = FromHex(j.at("name_hex").get<std::string>());
    e.enumerate = ParseExpectation(j.at("enumerate"));
    e.attributes = j.at("attributes").get<uint32_t>();
    e.compressedSize = j.at("compressedSize").get<uint64_t>();
    e.uncompressedSize = j.at("uncompressedSize").get<uint64_t>();
    e.crc32 = j.at("crc32").get<uint32_t>();
    e.timeKind = j.at("timeKind").get<int>();
    e.timeRaw = j.at("time_raw").get<uint64_t>();
    e.lastWriteSeconds = j.at("lastWriteSeconds").get<int64_t>();
    e.lastWriteTime = Optional<uint64_t>(j, "lastWriteTime");
    e.encrypted = j.value("encrypted", false);
    e.raw = j;
    return e;
}

LookupCase ParseLookup(const json& j) {
    LookupCase l;
    l.name = FromHex(j.at("name_hex").get<std::string>());
    l.result = ParseExpectation(j);
    l.attributes = Optional<uint32_t>(j, "attributes");
    l.compressedSize = Optional<uint64_t>(j, "compressedSize");
    l.uncompressedSize = Optional<uint64_t>(j, "uncompressedSize");
    l.crc32 = Optional<uint32_t>(j, "crc32");
    l.raw = j;
    return l;
}

ArchiveCase ParseArchive(const std::string& folder, const json& j) {
    ArchiveCase a;
    a.file = j.at("file").get<std::string>();
    a.path = folder + "/" + a.file;
    a.group = j.value("group", std::string());
    a.label = j.value("label", std::string());
    a.archiveStart = Optional<uint64_t>(j, "archive_start");
    a.version = j.value("version", 0u);
    a.entryCount = Optional<uint64_t>(j, "entry_count");
    a.namesEncrypted = j.value("names_encrypted", false);
    a.openPassword = Password(j, "open_password");
    a.wrongPassword = Password(j, "wrong_password");
    a.equivalentPassword = Password(j, "equivalent_password");
    for (const auto& [key, value] : j.at("open").items()) a.open[key] = ParseExpectation(value);
    if (const auto it = j.find("entries"); it != j.end() && it->is_array())
        for (const json& e : *it) a.entries.push_back(ParseEntry(e));
    if (const auto it = j.find("lookups"); it != j.end() && it->is_array())
        for (const json& l : *it) a.lookups.push_back(ParseLookup(l));
    if (const auto it = j.find("enumerate_out_of_range"); it != j.end() && it->is_object()) {
        a.enumerateOutOfRange = ParseExpectation(*it);
        a.outOfRangeIndex = it->at("index").get<uint64_t>();
    }
    if (const auto it = j.find("enumerate_all"); it != j.end() && it->is_object())
        a.enumerateAll = ParseExpectation(*it);
    a.raw = j;
    return a;
}

}  // namespace

bool Expectation::Accepts(int code) const {
    for (int c : codes)
        if (c == code) return true;
    return false;
}

std::string Expectation::Describe() const {
    std::ostringstream s;
    s << "one of {";
    for (size_t i = 0; i < codes.size(); ++i) s << (i ? ", " : "") << codes[i];
    s << "}";
    if (!why.empty()) s << " (" << why << ")";
    return s.str();
}

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

bool LoadManifest(const std::string& folder, Manifest* manifest, std::string* error) {
    std::ifstream in(folder + "/manifest.json", std::ios::binary);
    if (!in) {
        *error = "no manifest.json in " + folder;
        return false;
    }
    try {
        const json j = json::parse(in);
        manifest->biasMinutes = j.value("bias_minutes", 0);
        manifest->archives.clear();
        for (const json& a : j.at("archives")) manifest->archives.push_back(ParseArchive(folder, a));
    } catch (const std::exception& e) {
        *error = std::string("malformed manifest: ") + e.what();
        return false;
    }
    return true;
}

const Sample& TheSample() {
    static const Sample sample = [] {
        Sample s;
        s.loaded = LoadManifest(VORX_CONFORMANCE_DIR, &s.manifest, &s.error);
        return s;
    }();
    return sample;
}

std::vector<size_t> ArchiveIndices() {
    std::vector<size_t> indices;
    for (size_t i = 0; i < TheSample().manifest.archives.size(); ++i) indices.push_back(i);
    return indices;
}

std::string ArchiveTestName(size_t index) {
    std::string name = TheSample().manifest.archives[index].file;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

}  // namespace vorx::conformance
