#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "ZorvaneList.h"

// The File elements of an update-list document as the clients' DOM component
// delivers them: every element named exactly File at any depth below the root,
// in document order, with its direct child elements' names and text content.
// False, with the reason (and line where the reader knows it), when the file
// cannot be read or is not well-formed XML.
bool ReadXmlList(const std::filesystem::path& path, std::vector<XmlFileElement>& elements, std::string& error);
