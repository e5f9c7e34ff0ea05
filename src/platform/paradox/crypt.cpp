#include "platform/paradox/crypt.h"

#include "platform/paradox/error.h"
#include "platform/paradox/paradoxtable.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace px::detail {
namespace {

using Table256 = std::array<std::uint8_t, 256>;

constexpr Table256 fromHex(std::string_view hex) {
    Table256 t{};
    auto nibble = [](char c) {
        return static_cast<std::uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    };
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
    return t;
}

// The three substitution tables of the format. The third also permutes the
// bytes of a chunk.
constexpr Table256 kA = fromHex("b2a50cdd38fecb5b0c23ec6a953ed52d2cf72d30ea1598b45f82d3aff44c8416"
                                "74170511acdb43919c77a038bed68f25b1ee6d803714a97a57386c2fa64f7c38"
                                "71d40b51f6b945211d6c4d876ea7e7210d85f4ce3a816a3ed732a423ace90191"
                                "b0edc74612ac153dff1b7b3bbaee2c2c68a66260ed5b843361623979d4d2eb60"
                                "b8251ddbff3a219ab0c3f76352f52294f9b4b7be9f543bcee13c73cbea2d4500"
                                "9dc278e7960f143aa4dc01648dd6594e390f157df08c8ac578034ae8fbef18b4"
                                "523179d08eaac3c6ceede9425ad62d06c79ab13862d97e6174d246decb2b0c59"
                                "0b649d1c4fb206919b63b5b2a9fdad5a38f9136e9d2d4b02f9136f50cb2109fa");
constexpr Table256 kB = fromHex("61a7790237346f8101c2b2b3d64d3e030660984446681ceb104a5bae22482442"
                                "9f5590c17d2f6c414e8256d81e3228c6edbc3c3ae9873b8f8608a3fba46299ff"
                                "59b9de2d58931bb1762baad92aaccaf9e0b7051177a98eefb5bb26ea8d189bfe"
                                "c7f85a83fd2e6b8433fa69d474bfcbc419963fe525f2a5d595f3a039dce4a17f"
                                "7b497af1eef7750991679738d38947311f2c0ece20cc9c2317920ff4136471c8"
                                "cd3db4cfe15052af6d27b69430048c534bd24f21296a1aec5c7e519a0d85e61d"
                                "c588a8dd9ef65fdabd6e9d54db5ec0805db840631512a20c07ad70147216d0a6"
                                "6535bae7abfcc3c9be0bb0f545e24c730a3678438b8af066d100df7ce3e857d7");
constexpr Table256 kC = fromHex("f908030fad5210d83987f0e9d7bc929a1853d59cdbd4dd985d70b64616bf2c90"
                                "94b31c971e745aa92eb44c4991436525ac8f2d6805e1f1048b7b333632a10e72"
                                "d2271ff313ec148e1d8119b0ee0d28b2a5baa6afcb212afe4440621ab8d0cdc6"
                                "11003dd39de0f789156ab56626a8c906da9edcef6c864854f2028280fb24b97f"
                                "cf07296367bd3835c18df5f4ae5c563722889945ab78718a123ebb5e96cac420"
                                "7a7ed63a3c76df01c2554ae44dd91ba7ea470a0ba258aa51d141e25931c8e86d"
                                "ce2309e66fc02f609fe74e6e95a093a3def8b18c6b770cff2b4bc7cc7cc342fa"
                                "50a4edfc7d73bee3fd345b17b7308457f68375799bebc585614f693be5645f3f");

std::uint8_t at(const Table256& t, int i) {
    return t[static_cast<std::size_t>(i & 0xFF)];
}

// One 256-byte chunk: the byte that lands at x came from position
// y = C[x] - d, masked by the three tables at offsets a, b and c.
void unscrambleChunk(std::uint8_t* chunk, int a, int b, int c, int d) {
    std::uint8_t plain[256];
    for (int x = 0; x < 256; ++x) {
        const int y = (at(kC, x) - d) & 0xFF;
        plain[x] =
            static_cast<std::uint8_t>(chunk[y] ^ at(kA, x + a) ^ at(kB, y + b) ^ at(kC, y + c));
    }
    std::memcpy(chunk, plain, sizeof plain);
}

class ReadOnlyFile : public File {
public:
    explicit ReadOnlyFile(std::unique_ptr<File> file) : file_(std::move(file)) {}
    void write(std::uint64_t, const void*, std::size_t) override { refuseWriting(); }
    std::uint64_t size() override { return file_->size(); }
    void truncate(std::uint64_t) override { refuseWriting(); }
    void sync() override {}

protected:
    std::unique_ptr<File> file_;
};

class UnscrambledDb final : public ReadOnlyFile {
public:
    UnscrambledDb(std::unique_ptr<File> file, int headerSize, int blockSize, std::uint32_t key)
        : ReadOnlyFile(std::move(file)), headerSize_(static_cast<std::uint64_t>(headerSize)),
          blockSize_(static_cast<std::size_t>(blockSize)), key_(key), block_(blockSize_) {}

    std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::size_t done = 0;
        while (done < n) {
            const std::uint64_t pos = offset + done;
            if (pos < headerSize_) { // the header is plain
                const auto want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(n - done, headerSize_ - pos));
                const std::size_t got = file_->read(pos, out + done, want);
                done += got;
                if (got < want)
                    break;
                continue;
            }
            const std::uint64_t block = (pos - headerSize_) / blockSize_ + 1;
            const auto within = static_cast<std::size_t>((pos - headerSize_) % blockSize_);
            load(block);
            if (within >= valid_)
                break;
            const std::size_t take = std::min(n - done, valid_ - within);
            std::memcpy(out + done, block_.data() + within, take);
            done += take;
            if (valid_ < blockSize_ && within + take == valid_)
                break;
        }
        return done;
    }

private:
    void load(std::uint64_t block) {
        if (block == cached_)
            return;
        cached_ = 0;
        std::fill(block_.begin(), block_.end(), 0);
        valid_ = file_->read(headerSize_ + (block - 1) * blockSize_, block_.data(), blockSize_);
        unscrambleDbBlock(block_.data(), blockSize_, key_, static_cast<int>(block & 0xFF));
        cached_ = block;
    }

    std::uint64_t headerSize_;
    std::size_t blockSize_;
    std::uint32_t key_;
    std::vector<std::uint8_t> block_;
    std::uint64_t cached_ = 0; // block number held in block_, 0 for none
    std::size_t valid_ = 0;    // bytes of it the file has
};

class UnscrambledMb final : public ReadOnlyFile {
public:
    UnscrambledMb(std::unique_ptr<File> file, std::uint32_t key)
        : ReadOnlyFile(std::move(file)), key_(key) {}

    std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::size_t done = 0;
        while (done < n) {
            const std::uint64_t pos = offset + done;
            const auto within = static_cast<std::size_t>(pos & 0xFF);
            if (within == 0 && n - done >= 256) {
                // Whole chunks go straight into the caller's buffer.
                const std::size_t want = (n - done) & ~std::size_t{0xFF};
                const std::size_t got = file_->read(pos, out + done, want);
                const std::size_t whole = got & ~std::size_t{0xFF};
                unscrambleMbChunks(out + done, whole, key_);
                if (got > whole)
                    partial(out + done + whole, got - whole);
                done += got;
                if (got < want)
                    break;
                continue;
            }
            std::uint8_t chunk[256] = {};
            const std::size_t got = file_->read(pos - within, chunk, sizeof chunk);
            unscrambleMbChunks(chunk, sizeof chunk, key_);
            if (got <= within)
                break;
            const std::size_t take = std::min(n - done, got - within);
            std::memcpy(out + done, chunk + within, take);
            done += take;
            if (got < sizeof chunk && within + take == got)
                break;
        }
        return done;
    }

private:
    // The end of a file that stops inside a chunk: unscrambled as if zeros followed.
    void partial(std::uint8_t* data, std::size_t n) const {
        std::uint8_t chunk[256] = {};
        std::memcpy(chunk, data, n);
        unscrambleMbChunks(chunk, sizeof chunk, key_);
        std::memcpy(data, chunk, n);
    }

    std::uint32_t key_;
};

} // namespace

void refuseWriting() {
    throw Error("Die Tabelle ist mit einem Kennwort geschützt; in eine solche Tabelle wird "
                "nicht geschrieben. „Kennwortschutz entfernen“ legt eine ungeschützte "
                "Kopie an.");
}

std::uint32_t scrambleKey(const std::uint8_t* header, int fileVersion) {
    return get32(header + (fileVersion >= 5 ? 0x5C : 0x25));
}

void unscrambleDbBlock(std::uint8_t* data, std::size_t size, std::uint32_t key, int block) {
    for (std::size_t chunk = 0; chunk < size / 256; ++chunk)
        unscrambleChunk(data + 256 * chunk, static_cast<int>(key & 0xFF),
                        static_cast<int>((key >> 8) & 0xFF), static_cast<int>(chunk & 0xFF),
                        block & 0xFF);
}

void unscrambleMbChunks(std::uint8_t* data, std::size_t size, std::uint32_t key) {
    const int a = static_cast<int>(key & 0xFF), b = static_cast<int>((key >> 8) & 0xFF);
    for (std::size_t chunk = 0; chunk < size / 256; ++chunk)
        unscrambleChunk(data + 256 * chunk, a, b, a + 1, b + 1);
}

std::unique_ptr<File> unscrambledDb(std::unique_ptr<File> file, int headerSize, int blockSize,
                                    std::uint32_t key) {
    return std::make_unique<UnscrambledDb>(std::move(file), headerSize, blockSize, key);
}

std::unique_ptr<File> unscrambledMb(std::unique_ptr<File> file, std::uint32_t key) {
    return std::make_unique<UnscrambledMb>(std::move(file), key);
}

} // namespace px::detail
