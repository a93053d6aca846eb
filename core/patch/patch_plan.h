// What a patch does, planned from the manifest of the installed client and the new version's:
// which files stay untouched, which are built and from which chunks, which chunks must be
// fetched, and what is removed. Files are compared by path (as Windows compares them) and
// digest; a file whose digest is unchanged is neither read nor written.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/patch/patch_manifest.h"

namespace core {

// Where the installed client holds a chunk's bytes, according to its manifest. The bytes are
// hashed as they are copied: a player may have damaged the file since.
struct ChunkSource {
    std::string path;
    std::uint64_t offset = 0;
};

struct PatchPlan {
    std::vector<std::string> folders;       // folders of the new version the install lacks
    std::vector<ManifestFile> build;        // new and changed files, in the new manifest's order
    std::vector<std::string> remove;        // installed files the new version does not have
    std::vector<std::string> removeFolders; // installed folders it does not have, deepest first
    std::map<std::string, ChunkSource> local;  // chunk digest -> where an installed file has it
    std::vector<ManifestChunk> fetch;       // chunks no installed file has, each once
    std::uint64_t fetchBytes = 0;           // their sizes added up
    std::uint64_t buildBytes = 0;           // the sizes of the files to build added up
};

PatchPlan PlanPatch(const PatchManifest& installed, const PatchManifest& target);

}  // namespace core
