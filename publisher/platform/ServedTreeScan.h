#pragma once

#include <filesystem>
#include <string>

#include "ServedTree.h"

// Every release below the server's root (releases/<R>/...), with the lengths of
// its lists and files. False, with the reason, when root holds no releases/.
bool ScanServedTree(const std::filesystem::path& root, CServedTree& tree, std::string& error);
