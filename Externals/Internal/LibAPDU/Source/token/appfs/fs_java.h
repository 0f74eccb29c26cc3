// File system of the Java applet, and the command set it shares with the Heron
// applet (same TLV parameters and replies, other class and instruction bytes).
#ifndef LIBAPDU_FS_JAVA_H
#define LIBAPDU_FS_JAVA_H

#include "fs_common.h"

namespace libapdu LIBAPDU_API {

// Class and instruction bytes of one applet's file-system commands.
struct JavaFamilyCommands {
    struct Op {
        unsigned char cla, ins;
    };
    Op select, list, create, remove, read, write, marker;
};

// Path rules, TLV parameters, reply searches, limits and the change marker of the
// Java and Heron file systems. Each family names its own command bytes and its own
// source file for the errors it raises.
class CFSJavaFamily : public CFSCommon {
public:
    void select(path p) override;
    void create(unsigned short fid, CFileInfo info) override;
    void remove() override;
    CFileInfo info() override;
    std::vector<unsigned short> list(unsigned char type) override;
    void read_bit(TBytes& piece, unsigned short offset) override;
    void write_bit(const TBytes& piece, unsigned short offset) override;
    unsigned short bit_size() override;

    // Hands the applet a fresh random value after every change of the file tree.
    void volatile_update();

    // The selected file from the root down (3F00 first); empty before the first select.
    const path& currentPath() const { return m_path; }

    static constexpr unsigned short kPieceSize = 245;
    static constexpr unsigned short kMaxSize = 0x7FFF;
    static constexpr size_t kMaxCreateDepth = 30;

protected:
    CFSJavaFamily(IApplet* applet, const JavaFamilyCommands& commands, const wchar_t* source);

    // Status word of create and remove: 6707 there is a refusal (6900), not the
    // "not found" it means after other commands.
    void checkChangeSW(const TBytes& response);
    [[noreturn]] void raise(unsigned short code, unsigned long line) const;

    path m_path;      // empty until the first select; afterwards starts with 3F00
    CFileInfo m_info;

private:
    const JavaFamilyCommands& m_cmd;
    const wchar_t* m_source;
};

class CFSJava : public CFSJavaFamily {
public:
    explicit CFSJava(IApplet* applet);
    void resize(unsigned short size) override;
};

}  // namespace libapdu

#endif
