#include "core/patch/patch_plan.h"

#include <algorithm>
#include <set>

namespace core {

PatchPlan PlanPatch(const PatchManifest& installed, const PatchManifest& target)
{
    PatchPlan plan;
    std::map<std::string, const ManifestFile*> installedFiles;
    for (const ManifestFile& file : installed.files) {
        installedFiles.emplace(ManifestPathKey(file.path), &file);
        std::uint64_t offset = 0;
        for (const ManifestChunk& chunk : file.chunks) {
            plan.local.emplace(chunk.sha256, ChunkSource{file.path, offset});
            offset += chunk.size;
        }
    }
    std::set<std::string> installedFolders, targetFolders, targetFiles;
    for (const std::string& folder : installed.folders) installedFolders.insert(ManifestPathKey(folder));
    for (const std::string& folder : target.folders) {
        targetFolders.insert(ManifestPathKey(folder));
        if (!installedFolders.count(ManifestPathKey(folder))) plan.folders.push_back(folder);
    }

    std::set<std::string> fetched;
    for (const ManifestFile& file : target.files) {
        targetFiles.insert(ManifestPathKey(file.path));
        const auto old = installedFiles.find(ManifestPathKey(file.path));
        if (old != installedFiles.end() && old->second->sha256 == file.sha256 && old->second->size == file.size)
            continue;
        plan.build.push_back(file);
        plan.buildBytes += file.size;
        for (const ManifestChunk& chunk : file.chunks) {
            if (plan.local.count(chunk.sha256) || !fetched.insert(chunk.sha256).second) continue;
            plan.fetch.push_back(chunk);
            plan.fetchBytes += chunk.size;
        }
    }
    // A file that becomes a folder of the same name (or the reverse) is removed before the
    // new one is made.
    for (const ManifestFile& file : installed.files)
        if (!targetFiles.count(ManifestPathKey(file.path))) plan.remove.push_back(file.path);
    for (const std::string& folder : installed.folders)
        if (!targetFolders.count(ManifestPathKey(folder))) plan.removeFolders.push_back(folder);
    // Deepest first, so a folder is emptied of its folders before its own turn.
    std::stable_sort(plan.removeFolders.begin(), plan.removeFolders.end(), [](const std::string& a, const std::string& b) {
        return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
    });
    return plan;
}

}  // namespace core
