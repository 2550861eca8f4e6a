// Nodes: missing properties, and nodes that nothing links into the
// object tree any more.
#include <cstdio>

#include "check/check_stage.h"
#include "external/runtime.h"
#include "session/sql_exec.h"

namespace {

struct NodeLookups {
  RowLookup properties{"SELECT name,is_deleted FROM object_properties WHERE object_id=%d"};
  RowLookup subnetLinks{"SELECT subnet_id FROM nsmap WHERE node_id=%d"};
  RowLookup containers{"SELECT container_id FROM container_members WHERE object_id=%d"};
  RowLookup clusters{"SELECT cluster_id FROM cluster_members WHERE node_id=%d"};
  RowLookup interfaces{"SELECT ip_addr,ip_netmask FROM interfaces WHERE node_id=%d"};
  RowLookup subnets{"SELECT id FROM subnets WHERE ip_addr='%s'"};
};

bool NodeHasParent(NodeLookups &lookups, int32_t node) {
  return lookups.containers.found(node) || lookups.clusters.found(node);
}

// An offer to link is not a defect of its own: a declined or failed link
// is withdrawn, since the node is then counted once as unlinked.
bool LinkNodeToSubnet(NodeLookups &lookups, int32_t node, const char *name) {
  ResultHolder interfaces(lookups.interfaces.select(node));
  for (int i = 0; i < interfaces.rows(); i++) {
    uint32_t network = DBGetFieldIPAddr(interfaces.get(), i, 0) & DBGetFieldIPAddr(interfaces.get(), i, 1);
    char networkText[32];
    IpToStr(network, networkText);
    ResultHolder subnet(lookups.subnets.select(networkText));
    if (subnet.rows() == 0) continue;
    int32_t subnetId = IdAt(subnet.get(), 0, 0);
    if (ReportDefect("\rUnlinked node object %d (\"%s\") can be linked to subnet %d (%s). Link?", node, name,
                     subnetId, networkText) &&
        ExecRepair("INSERT INTO nsmap (subnet_id,node_id) VALUES (%d,%d)", subnetId, node)) {
      ErrorsFixed++;
      return true;
    }
    ErrorsFound--;
  }
  return false;
}

// The node row goes first: if it cannot be deleted, its acl and
// properties stay too, so that a failed repair never leaves a node
// without its properties.
bool DeleteNode(int32_t node) {
  if (!ExecRepair("DELETE FROM nodes WHERE id=%d", node)) return false;
  bool aclDeleted = ExecRepair("DELETE FROM acl WHERE object_id=%d", node);
  bool propertiesDeleted = ExecRepair("DELETE FROM object_properties WHERE object_id=%d", node);
  return aclDeleted && propertiesDeleted;
}

}  // namespace

void CheckNodes() {
  BeginCheckStage("Checking node objects...");
  ResultHolder nodes(SelectSql("SELECT id,primary_ip FROM nodes"));
  if (nodes) {
    NodeLookups lookups;
    for (int i = 0; i < nodes.rows(); i++) {
      int32_t id = IdAt(nodes.get(), i, 0);
      char name[kNameBufferSize] = "";
      {
        ResultHolder properties(lookups.properties.select(id));
        // When its properties cannot be read, whether the node is deleted
        // is unknown: it is not offered for deletion on that ground.
        if (!properties) continue;
        if (properties.rows() > 0) {
          ReadObjectName(properties.get(), 0, 0, name);
          if (DBGetFieldLong(properties.get(), 0, 1) != 0) continue;  // deleted
        } else {
          char lostName[64];
          snprintf(lostName, sizeof(lostName), "lost_node_%d", id);
          if (ReportDefect("\rMissing node object %d properties. Create?", id) &&
              CreateLostProperties(id, lostName))
            ErrorsFixed++;
        }
      }
      ResultHolder links(lookups.subnetLinks.select(id));
      if (!links || links.rows() > 0) continue;
      if (NodeHasParent(lookups, id)) continue;
      if (DBGetFieldIPAddr(nodes.get(), i, 1) != 0 && LinkNodeToSubnet(lookups, id, name)) continue;
      if (ReportDefect("\rUnlinked node object %d (\"%s\"). Delete it?", id, name) && DeleteNode(id))
        ErrorsFixed++;
    }
  }
  EndCheckStage();
}
