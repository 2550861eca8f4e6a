#include "upgrade/network_map_object.h"

#include <cstdio>

std::string NetworkMapElementXml(const NetworkMapObject &element) {
  char xml[256];
  snprintf(xml, sizeof(xml),
           "<element>"
           "<id>%u</id>"
           "<type>%d</type>"
           "<posX>%d</posX>"
           "<posY>%d</posY>"
           "<objectId>%u</objectId>"
           "</element>",
           element.id, kMapElementObject, element.x, element.y, element.objectId);
  return xml;
}
