// SPDX-License-Identifier: MIT
// Finds and reads the shared corpus for the corpus tests: its folder from the environment or the
// build, its manifest, and the first of the files the manifest names that is not there.
#include "support/corpus.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace orveln1::test
{

namespace
{

corpus read_corpus()
{
    corpus c;
    const char *from_environment = std::getenv("ORVELN1_CORPUS_DIR");
    c.dir = from_environment != nullptr && *from_environment != '\0' ? from_environment : ORVELN1_CORPUS_DIR;
    const char *required = std::getenv("ORVELN1_REQUIRE_CORPUS");
    c.status = required != nullptr && *required != '\0' && std::string_view(required) != "0" ? corpus::state::unusable
                                                                                             : corpus::state::absent;
    c.problem =
        "corpus not found at " + c.dir + " (set ORVELN1_CORPUS_DIR to the corpus folder; README, \"The corpus\")";
    if (!std::filesystem::is_directory(c.dir))
        return c;
    c.status = corpus::state::unusable;
    std::ifstream manifest(c.dir + "/manifest.jsonl");
    c.problem = "corpus manifest " + c.dir + "/manifest.jsonl is missing, empty or has a line that is not an entry";
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty())
            continue;
        nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
        if (entry.is_discarded() || !entry.contains("kind") || !entry.contains("file"))
            return c;
        c.entries.push_back(std::move(entry));
    }
    if (c.entries.empty())
        return c;
    // Every file a manifest line names: the picture itself and its ground-truth blobs.
    for (const nlohmann::json &entry : c.entries) {
        std::vector<nlohmann::json> files{entry["file"]};
        for (const char *blob : {"idx", "pillow_idx", "strips_blob"})
            if (entry.contains("expected") && entry["expected"].is_object() &&
                entry["expected"].value(blob, nlohmann::json()).is_string())
                files.push_back(entry["expected"][blob]);
        for (const nlohmann::json &file : files)
            if (!std::filesystem::is_regular_file(c.path(file))) {
                c.problem = "corpus at " + c.dir + " is incomplete: " + c.path(file) + " is missing";
                return c;
            }
    }
    c.status = corpus::state::ready;
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

std::vector<uint8_t> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const corpus &shared_corpus()
{
    static const corpus c = read_corpus();
    return c;
}

} // namespace orveln1::test
