// The BER-TLV reader walked over a whole card answer, and the writer checked by
// reading back what it wrote. The first input byte picks the tags the walk asks
// for; the rest is the card answer (status word last).
#include <cstdlib>
#include <stdexcept>

#include "appfs/fs_common.h"
#include "fuzz_sender.h"

namespace {

using libapdu::CBERTLV;
using libapdu::TBytes;

// Tags the facets ask for: file control parameters, their pieces, the lists, and
// a two-byte and a three-byte tag.
const uint32_t kTags[] = {0x62, 0x80, 0x82, 0x83, 0x86, 0x8A, 0xA5, 0xC1, 0x30, 0x04, 0x1F01, 0x1F8101, 0x00};

// A child always lies inside its parent.
void CheckInside(const CBERTLV& parent, const CBERTLV& child) {
    const uintptr_t base = reinterpret_cast<uintptr_t>(parent.value);
    const uintptr_t at = reinterpret_cast<uintptr_t>(child.value);
    if (at < base || at - base > parent.length || child.length > parent.length - (at - base)) abort();
}

void Walk(const CBERTLV& node, unsigned mask, int depth, size_t& visits) {
    if (depth > 24 || visits > 4096) return;
    for (size_t i = 0; i < sizeof kTags / sizeof kTags[0]; ++i) {
        if (!(mask & (1u << (i % 16))) && i > 2) continue;
        const uint32_t tag = kTags[i];
        CBERTLV child;
        bool have = false;
        try {
            child = node.getChild(tag);
            have = true;
        } catch (int e) {
            if (e != 0) abort();
        }
        // Siblings with the same tag, each after the one before.
        for (int sibling = 0; have && sibling < 64; ++sibling) {
            ++visits;
            CheckInside(node, child);
            if (child.tag != tag) abort();
            // Touch every value byte so the sanitizer sees a read past the answer.
            unsigned sum = 0;
            for (uint64_t k = 0; k < child.length; ++k) sum += child.value[k];
            (void)sum;
            if (child.constructed) Walk(child, mask >> 1 | mask << 15, depth + 1, visits);
            try {
                const CBERTLV next = node.getChild(tag, &child);
                if (next.value <= child.value) abort();  // the walk goes forward only
                child = next;
            } catch (int e) {
                if (e != 0) abort();
                have = false;
            }
        }
    }
}

// Encode pieces of the input, nest them, then read each back.
void RoundTrip(FuzzInput& in) {
    while (!in.empty()) {
        unsigned char outerTag = in.u8() | 0x20;  // constructed
        if ((outerTag & 0x1F) == 0x1F) outerTag ^= 0x01;
        libapdu::TagValue outer(outerTag);
        std::vector<libapdu::TagValue> kids;
        const int n = in.u8() % 5;
        for (int i = 0; i < n; ++i) {
            unsigned char tag = in.u8();
            if ((tag & 0x1F) == 0x1F) tag ^= 0x01;  // one-byte tags only
            const size_t len = in.be16() % 600;
            libapdu::TagValue kid(tag, in.take(len));
            kids.push_back(kid);
            const TBytes before = outer.value;
            outer.Append(kid);
            if (outer.value.size() < before.size() + kid.value.size() + 2) abort();
        }
        TBytes answer = outer.Format();
        answer.push_back(0x90);
        answer.push_back(0x00);
        try {
            const CBERTLV root = CBERTLV::answer(answer);
            const CBERTLV got = root.getChild(outerTag);
            if (!got.constructed || got.length != outer.value.size()) abort();
            const CBERTLV* prev = nullptr;
            CBERTLV cur;
            for (const auto& kid : kids) {
                // Children in order: each found after the one before, by its own tag.
                cur = got.getChild(kid.tag, prev);
                if (cur.length != kid.value.size() || !std::equal(kid.value.begin(), kid.value.end(), cur.value))
                    abort();
                prev = &cur;
            }
        } catch (int) {
            abort();  // what the writer wrote the reader must read
        }
    }
}

// The writer's limit: one byte past 65535 is refused, and Append leaves the element as it was.
void Limit() {
    libapdu::TagValue big(0x04, TBytes(65536, 0xAA));
    libapdu::TagValue holder(0x30, TBytes{0x01});
    try {
        holder.Append(big);
        abort();
    } catch (const std::runtime_error&) {
        if (holder.value.size() != 1) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const unsigned mask = data[0] | (data[0] << 8);
    // The answer in a buffer of its own size, so a read past it is caught.
    const TBytes answer(data + 1, data + size);
    size_t visits = 0;
    Walk(CBERTLV::answer(answer), mask, 0, visits);
    if (data[0] & 1) {
        FuzzInput in(data + 1, size - 1);
        RoundTrip(in);
    }
    static const bool limitChecked = (Limit(), true);  // once: the buffer is large
    (void)limitChecked;
    return 0;
}
