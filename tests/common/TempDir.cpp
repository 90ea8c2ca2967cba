#include "common/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zermic-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    dir = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only folders made by tests must not keep their contents alive.
    for (auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
        std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir, ec);
}
