// An in-memory file system facet that records every call, and a PIN facet that
// only hands out its user designator: enough to drive the whole-path helpers.
#ifndef KEYSHELF_TESTS_FAKE_FS_H
#define KEYSHELF_TESTS_FAKE_FS_H

#include <algorithm>
#include <cstdio>
#include <optional>
#include <map>
#include <string>
#include <vector>

#include "libapdu.h"

class FakeFS : public libapdu::IAppFS {
public:
    struct Node {
        libapdu::CFileInfo info;
        libapdu::TBytes data;
    };

    // The root (the empty path) is a directory unless rootSelectable is false.
    bool rootSelectable = true;
    // Create fails with this status word when not 0 (after it is recorded).
    unsigned short failCreate = 0;
    std::map<libapdu::path, Node> nodes;
    std::vector<std::string> calls;

    void addDir(const libapdu::path& p) { nodes[p] = Node{libapdu::CFileInfo(2, 0, 0, 0), {}}; }
    void addFile(const libapdu::path& p, libapdu::TBytes data = {}) {
        nodes[p] = Node{libapdu::CFileInfo(1, static_cast<unsigned short>(data.size()), 0, 0), data};
    }
    bool exists(const libapdu::path& p) const { return nodes.count(p) != 0; }

    static std::string Hex(const libapdu::path& p) {
        std::string s;
        char b[8];
        for (unsigned short id : p) {
            std::snprintf(b, sizeof b, "%s%04X", s.empty() ? "" : "/", id);
            s += b;
        }
        return s;
    }

    void select(libapdu::path p) override {
        calls.push_back("select " + Hex(p));
        if (p.empty() ? !rootSelectable : !exists(p)) {
            m_current.reset();
            ::libapdu::ExternalRaise(0x6A82, L"fake_fs", 1);
        }
        m_current = p;
    }
    void create(unsigned short id, libapdu::CFileInfo info) override {
        char b[48];
        std::snprintf(b, sizeof b, "create %04X type %u", id, info.type);
        calls.push_back(b);
        if (failCreate) ::libapdu::ExternalRaise(failCreate, L"fake_fs", 2);
        libapdu::path p = current();
        p.push_back(id);
        nodes[p] = Node{info, libapdu::TBytes(info.type == 1 ? info.size : 0, 0)};
    }
    void remove() override {
        calls.push_back("remove " + Hex(current()));
        nodes.erase(current());
        m_current.reset();
    }
    libapdu::CFileInfo info() override {
        calls.push_back("info");
        return m_current ? nodes[*m_current].info : libapdu::CFileInfo();
    }
    std::vector<unsigned short> list(unsigned char kind) override {
        calls.push_back("list " + std::to_string(kind));
        std::vector<unsigned short> out;
        const libapdu::path& dir = current();
        for (const auto& [p, n] : nodes)
            if (p.size() == dir.size() + 1 && std::equal(dir.begin(), dir.end(), p.begin()) && n.info.type == kind)
                out.push_back(p.back());
        return out;
    }
    void read(libapdu::TBytes& buffer, unsigned short offset) override {
        calls.push_back("read " + std::to_string(buffer.size()) + " at " + std::to_string(offset));
        const libapdu::TBytes& d = nodes[current()].data;
        for (size_t i = 0; i < buffer.size() && offset + i < d.size(); ++i) buffer[i] = d[offset + i];
    }
    void write(const libapdu::TBytes& data, unsigned short offset) override {
        calls.push_back("write " + std::to_string(data.size()) + " at " + std::to_string(offset));
        libapdu::TBytes& d = nodes[current()].data;
        if (d.size() < offset + data.size()) d.resize(offset + data.size());
        std::copy(data.begin(), data.end(), d.begin() + offset);
    }

private:
    const libapdu::path& current() const {
        static const libapdu::path none;
        return m_current ? *m_current : none;
    }
    std::optional<libapdu::path> m_current;
};

class FakePin : public libapdu::IAppPin {
public:
    explicit FakePin(libapdu::path user) : m_user(std::move(user)) {}
    const libapdu::path& pathUser() override { return m_user; }

private:
    libapdu::path m_user;
};

#endif
