// A card's file tree: folders and transparent files addressed by 16-bit file
// identifiers from the master file 3F00. Families that keep ISO-style trees
// share it; what a family stores per file beyond type, contents and access
// bytes stays in its own model.
#ifndef CARDSIM_SIM_FILETREE_H
#define CARDSIM_SIM_FILETREE_H

#include <memory>
#include <string>
#include <vector>

#include "sim_apdu.h"

namespace cardsim {

struct SimFile {
    uint16_t fid = 0;
    bool folder = false;
    Bytes content;  // a transparent file's bytes; its size is content.size()
    Bytes access;   // the access bytes as the card was given them
    SimFile* parent = nullptr;
    std::vector<std::unique_ptr<SimFile>> children;  // in creation order

    SimFile* child(uint16_t id) const;
    size_t size() const { return content.size(); }
};

class SimFileTree {
public:
    SimFileTree();

    SimFile& root() { return *m_root; }
    const SimFile& root() const { return *m_root; }

    // `path` starts with 3F00; null when any element is missing or a file
    // stands where a folder is needed.
    SimFile* find(const FidPath& path) const;
    // Absolute path of a node, 3F00 first.
    static FidPath pathOf(const SimFile* f);

    // Adds a child; null when the parent is no folder or the identifier is taken.
    SimFile* addFolder(SimFile& parent, uint16_t fid, const Bytes& access);
    SimFile* addFile(SimFile& parent, uint16_t fid, const Bytes& content, const Bytes& access);
    // Path-based convenience for seeding and tests: creates missing folders on the way.
    SimFile* putFile(const FidPath& path, const Bytes& content, const Bytes& access = Bytes(5, 0));
    SimFile* putFolder(const FidPath& path, const Bytes& access = Bytes(5, 0));
    // Deletes a child and everything below it. False when it is not there.
    bool remove(SimFile& parent, uint16_t fid);

    // Bytes held by all transparent files.
    size_t usedBytes() const;
    // One line per node, indented by depth: "3F00/", "  6666/", "    0002 (5) ..."
    std::string dump() const;

private:
    std::unique_ptr<SimFile> m_root;
};

}  // namespace cardsim

#endif
