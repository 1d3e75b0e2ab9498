#pragma once

#include <boost/property_tree/ptree.hpp>
#include <fstream>
#include <sstream>
#include <string>

#include "velmo/manifest/XmlManifestReader.h"

namespace velmo::test {

inline boost::property_tree::ptree XmlTree(const std::string& xml) {
  std::istringstream in(xml);
  boost::property_tree::ptree tree;
  ReadXmlManifest(in, tree);
  return tree;
}

inline std::string ManifestDataFile(const std::string& name) {
  std::ifstream in(std::string(VELMO_TEST_DATA_DIR) + "/manifest/" + name, std::ios::binary);
  if (!in) {
    throw std::runtime_error("missing test data file " + name);
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace velmo::test
