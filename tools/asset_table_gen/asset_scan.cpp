#include "asset_scan.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <system_error>

#include "file_times.h"

namespace quelby::asset_gen {
namespace {

namespace fs = std::filesystem;
using Error = std::string;

std::string bytes_of(const std::u8string& text) {
    return {text.begin(), text.end()};
}

std::expected<std::vector<std::uint8_t>, Error> read_whole_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::unexpected("cannot open " + bytes_of(file.u8string()));
    }
    std::vector<std::uint8_t> bytes;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
    }
    if (in.bad()) {
        return std::unexpected("cannot read " + bytes_of(file.u8string()));
    }
    return bytes;
}

std::expected<void, Error> scan_into(const fs::path& directory, const std::string& prefix,
                                     std::vector<ScannedAsset>& out) {
    std::error_code error;
    fs::directory_iterator it(directory, error);
    if (error) {
        return std::unexpected("cannot list " + bytes_of(directory.u8string()) + ": " +
                               error.message());
    }
    for (; it != fs::directory_iterator(); it.increment(error)) {
        const fs::directory_entry& entry = *it;
        const std::string name = bytes_of(entry.path().filename().u8string());
        if (name.empty() || name.front() == '.') {
            continue;
        }
        if (name.find('\\') != std::string::npos) {
            return std::unexpected("'" + prefix + name +
                                   "' has a backslash in its name and could never be looked up");
        }
        const fs::file_status status = entry.symlink_status(error);
        if (error) {
            return std::unexpected("cannot stat " + bytes_of(entry.path().u8string()));
        }
        const std::string path = prefix + name;
        if (fs::is_directory(status)) {
            if (auto nested = scan_into(entry.path(), path + "/", out); !nested) {
                return nested;
            }
        } else if (fs::is_regular_file(status)) {
            auto bytes = read_whole_file(entry.path());
            if (!bytes) {
                return std::unexpected(std::move(bytes).error());
            }
            const FileTimes times = read_file_times(entry.path());
            ScannedAsset asset{.path = path,
                               .source = entry.path(),
                               .bytes = std::move(*bytes),
                               .sha256 = {},
                               .last_modified = times.last_modified,
                               .created = times.created};
            auto digest = sha256_of(asset.bytes);
            if (!digest) {
                return std::unexpected("cannot compute SHA-256 of " + path);
            }
            asset.sha256 = *digest;
            out.push_back(std::move(asset));
        }
        // Symbolic links, sockets, pipes and devices are not part of a front-end build.
    }
    if (error) {
        return std::unexpected("cannot list " + bytes_of(directory.u8string()) + ": " +
                               error.message());
    }
    return {};
}

}  // namespace

std::optional<std::array<std::uint8_t, 32>> sha256_of(const std::vector<std::uint8_t>& bytes) {
    std::array<std::uint8_t, 32> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) !=
            1 ||
        length != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

std::expected<std::vector<ScannedAsset>, std::string> scan_asset_directory(const fs::path& root) {
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        return std::unexpected(bytes_of(root.u8string()) + " is not a directory");
    }
    std::vector<ScannedAsset> assets;
    if (auto scanned = scan_into(root, "", assets); !scanned) {
        return std::unexpected(std::move(scanned).error());
    }
    // std::string compares through char_traits<char>, i.e. as unsigned bytes.
    std::sort(assets.begin(), assets.end(),
              [](const ScannedAsset& a, const ScannedAsset& b) { return a.path < b.path; });
    return assets;
}

}  // namespace quelby::asset_gen
