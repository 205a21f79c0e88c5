// SPDX-License-Identifier: MIT
// Finds and reads the shared corpus for the corpus tests: its folder from the environment or the
// build, its manifest, and a count of the files the manifest names that are not there.
#include "support/corpus.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace orveln1::test
{

namespace
{

// Every file a manifest line names: the picture itself and its ground-truth blobs.
std::vector<std::string> named_files(const nlohmann::json &entry)
{
    std::vector<std::string> files{entry.value("file", std::string())};
    if (entry.contains("expected") && entry["expected"].is_object())
        for (const char *blob : {"idx", "pillow_idx", "strips_blob"})
            if (entry["expected"].contains(blob) && entry["expected"][blob].is_string())
                files.push_back(entry["expected"][blob].get<std::string>());
    return files;
}

corpus read_corpus()
{
    corpus c;
    c.dir = corpus_dir();
    const std::string hint = " (set ORVELN1_CORPUS_DIR to the corpus folder; README, \"The corpus\")";
    if (!fs::is_directory(c.dir)) {
        c.status = corpus::state::absent;
        c.problem = "corpus not found at " + c.dir + hint;
        return c;
    }
    c.status = corpus::state::incomplete;
    std::ifstream manifest(c.dir + "/manifest.jsonl");
    if (!manifest) {
        c.problem = "corpus folder " + c.dir + " has no manifest.jsonl";
        return c;
    }
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty())
            continue;
        nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
        if (entry.is_discarded() || !entry.contains("kind") || !entry.contains("file")) {
            c.problem = "corpus manifest " + c.dir + "/manifest.jsonl has a line that is not an entry";
            return c;
        }
        c.entries.push_back(std::move(entry));
    }
    std::size_t named = 0;
    std::size_t missing = 0;
    std::string first_missing;
    for (const nlohmann::json &entry : c.entries)
        for (const std::string &file : named_files(entry)) {
            ++named;
            if (!fs::is_regular_file(c.dir + "/" + file) && missing++ == 0)
                first_missing = file;
        }
    if (c.entries.empty()) {
        c.problem = "corpus manifest " + c.dir + "/manifest.jsonl names no file";
    } else if (missing > 0) {
        c.problem = "corpus at " + c.dir + " is incomplete: " + std::to_string(missing) + " of the " +
                    std::to_string(named) + " files its manifest names are missing (" + first_missing + " first)";
    } else {
        c.status = corpus::state::ready;
    }
    return c;
}

} // namespace

std::vector<nlohmann::json> corpus::of_kind(std::string_view kind) const
{
    std::vector<nlohmann::json> out;
    for (const nlohmann::json &entry : entries)
        if (entry["kind"] == kind)
            out.push_back(entry);
    return out;
}

std::string corpus::path(const nlohmann::json &relative) const
{
    return dir + "/" + relative.get<std::string>();
}

std::vector<uint8_t> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string corpus_dir()
{
    const char *from_environment = std::getenv("ORVELN1_CORPUS_DIR");
    if (from_environment != nullptr && *from_environment != '\0')
        return from_environment;
    return ORVELN1_CORPUS_DIR;
}

bool corpus_required()
{
    const char *v = std::getenv("ORVELN1_REQUIRE_CORPUS");
    return v != nullptr && *v != '\0' && std::string_view(v) != "0";
}

const corpus &shared_corpus()
{
    static const corpus c = read_corpus();
    return c;
}

} // namespace orveln1::test
