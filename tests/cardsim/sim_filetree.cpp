#include "sim_filetree.h"

#include <cstdio>

namespace cardsim {

SimFile* SimFile::child(uint16_t id) const {
    for (const auto& c : children)
        if (c->fid == id) return c.get();
    return nullptr;
}

SimFileTree::SimFileTree() : m_root(new SimFile) {
    m_root->fid = 0x3F00;
    m_root->folder = true;
    m_root->access = Bytes(5, 0);
}

SimFile* SimFileTree::find(const FidPath& path) const {
    if (path.empty() || path[0] != 0x3F00) return nullptr;
    SimFile* cur = m_root.get();
    for (size_t i = 1; i < path.size(); ++i) {
        if (!cur->folder) return nullptr;
        cur = cur->child(path[i]);
        if (!cur) return nullptr;
    }
    return cur;
}

FidPath SimFileTree::pathOf(const SimFile* f) {
    FidPath p;
    for (; f; f = f->parent) p.insert(p.begin(), f->fid);
    return p;
}

static SimFile* AddChild(SimFile& parent, std::unique_ptr<SimFile> node) {
    if (!parent.folder || parent.child(node->fid)) return nullptr;
    node->parent = &parent;
    parent.children.push_back(std::move(node));
    return parent.children.back().get();
}

SimFile* SimFileTree::addFolder(SimFile& parent, uint16_t fid, const Bytes& access) {
    std::unique_ptr<SimFile> n(new SimFile);
    n->fid = fid;
    n->folder = true;
    n->access = access;
    return AddChild(parent, std::move(n));
}

SimFile* SimFileTree::addFile(SimFile& parent, uint16_t fid, const Bytes& content, const Bytes& access) {
    std::unique_ptr<SimFile> n(new SimFile);
    n->fid = fid;
    n->content = content;
    n->access = access;
    return AddChild(parent, std::move(n));
}

SimFile* SimFileTree::putFolder(const FidPath& path, const Bytes& access) {
    if (path.empty() || path[0] != 0x3F00) return nullptr;
    SimFile* cur = m_root.get();
    for (size_t i = 1; i < path.size() && cur; ++i) {
        SimFile* next = cur->child(path[i]);
        cur = next ? (next->folder ? next : nullptr) : addFolder(*cur, path[i], access);
    }
    return cur;
}

SimFile* SimFileTree::putFile(const FidPath& path, const Bytes& content, const Bytes& access) {
    if (path.size() < 2) return nullptr;
    SimFile* dir = putFolder(FidPath(path.begin(), path.end() - 1));
    if (!dir) return nullptr;
    if (SimFile* old = dir->child(path.back())) {
        if (old->folder) return nullptr;
        old->content = content;
        old->access = access;
        return old;
    }
    return addFile(*dir, path.back(), content, access);
}

bool SimFileTree::remove(SimFile& parent, uint16_t fid) {
    for (auto it = parent.children.begin(); it != parent.children.end(); ++it) {
        if ((*it)->fid == fid) {
            parent.children.erase(it);
            return true;
        }
    }
    return false;
}

static size_t Used(const SimFile& f) {
    size_t n = f.content.size();
    for (const auto& c : f.children) n += Used(*c);
    return n;
}

size_t SimFileTree::usedBytes() const { return Used(*m_root); }

static void Dump(const SimFile& f, int depth, std::string& out) {
    char line[64];
    std::snprintf(line, sizeof line, "%*s%04X%s", depth * 2, "", f.fid, f.folder ? "/" : "");
    out += line;
    if (!f.folder) {
        std::snprintf(line, sizeof line, " (%zu)", f.content.size());
        out += line;
    }
    out += " access " + ToHex(f.access) + "\n";
    for (const auto& c : f.children) Dump(*c, depth + 1, out);
}

std::string SimFileTree::dump() const {
    std::string out;
    Dump(*m_root, 0, out);
    return out;
}

}  // namespace cardsim
