// An object shown on a network map, and the settings text that the
// server reads back from network_map_elements.element_data.
#pragma once

#include <cstdint>
#include <string>

// network_map_elements.element_type of an object element.
constexpr int kMapElementObject = 1;

struct NetworkMapObject {
  uint32_t id;  // the element's id within its map
  uint32_t objectId;
  int32_t x = 0;
  int32_t y = 0;
};

// The element's settings as XML under the top-level tag "element": its
// id, type, position and object, each as a decimal number. Never fails.
std::string NetworkMapElementXml(const NetworkMapObject &element);
