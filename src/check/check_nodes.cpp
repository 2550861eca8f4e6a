// Nodes: missing properties, and nodes that nothing links into the
// object tree any more.
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "check/check_screen.h"
#include "check/check_sets.h"
#include "check/check_stage.h"
#include "runtime/runtime.h"
#include "session/sql_exec.h"

namespace {

// A node that may need a question: it has no properties row, or it is
// live and no subnet links it.
struct NodeRow {
  int32_t id;
  uint32_t primaryIp;
  bool hasProperties;
  bool linked;  // to a subnet
  std::string name;
};

// What the walk of a block needs to know beyond its rows. A lookup that
// failed (reported) answers as a per-row lookup that failed: no parent,
// no interfaces, no subnet.
struct NodeBlockFacts {
  std::set<int32_t> inContainer, inCluster;
  std::map<int32_t, std::vector<uint32_t>> networks;  // per node, in interface order
  std::map<std::string, int32_t> subnets;             // network address -> first subnet
};

std::vector<NodeRow> ReadNodeBlock(const MergedWalk &walk) {
  std::vector<NodeRow> rows;
  for (const KindRow &at : walk.rows()) {
    db_result_t block = walk.result(at.kind);
    NodeRow row{at.key, DBGetFieldIPAddr(block, at.row, 1), !DBIsFieldNull(block, at.row, 2),
                DBGetFieldLong(block, at.row, 4) != 0, ""};
    if (row.hasProperties) {
      char name[kNameBufferSize];
      ReadObjectName(block, at.row, 3, name);
      row.name = name;
    }
    rows.push_back(row);
  }
  return rows;
}

NodeBlockFacts ReadNodeBlockFacts(const std::vector<NodeRow> &rows) {
  NodeBlockFacts facts;
  std::vector<int32_t> unlinked;
  for (const NodeRow &row : rows)
    if (!row.linked) unlinked.push_back(row.id);
  if (unlinked.empty()) return facts;
  facts.inContainer = FindIds("container_members", "object_id", unlinked);
  std::vector<int32_t> outside;
  for (int32_t id : unlinked)
    if (facts.inContainer.count(id) == 0) outside.push_back(id);
  facts.inCluster = FindIds("cluster_members", "node_id", outside);

  std::vector<int32_t> linkable;
  for (const NodeRow &row : rows)
    if (!row.linked && row.primaryIp != 0 && facts.inContainer.count(row.id) == 0 &&
        facts.inCluster.count(row.id) == 0)
      linkable.push_back(row.id);
  std::set<std::string> addresses;
  SelectForIds("SELECT node_id,ip_addr,ip_netmask FROM interfaces WHERE node_id IN %s ORDER BY node_id,id",
               linkable, [&](db_result_t result) {
                 for (int i = 0; i < DBGetNumRows(result); i++) {
                   uint32_t network = DBGetFieldIPAddr(result, i, 1) & DBGetFieldIPAddr(result, i, 2);
                   facts.networks[IdAt(result, i, 0)].push_back(network);
                   char text[32];
                   addresses.insert(IpToStr(network, text));
                 }
               });
  // Network addresses are dotted numbers: safe to write in as they are.
  std::vector<std::string> pending(addresses.begin(), addresses.end());
  for (size_t start = 0; start < pending.size(); start += kBlockRows) {
    std::string query = "SELECT ip_addr,id FROM subnets WHERE ip_addr IN (";
    for (size_t i = start; i < pending.size() && i < start + kBlockRows; i++)
      query += (i > start ? ",'" : "'") + pending[i] + "'";
    query += ") ORDER BY id";
    Result subnets(SelectSql(query.c_str()));
    for (int i = 0; i < DBGetNumRows(subnets.get()); i++) {
      char address[64];
      DBGetField(subnets.get(), i, 0, address, sizeof(address));
      facts.subnets.emplace(address, IdAt(subnets.get(), i, 1));
    }
  }
  return facts;
}

// An offer to link is not a defect of its own: a declined or failed link
// is withdrawn, since the node is then counted once as unlinked.
bool LinkNodeToSubnet(const NodeBlockFacts &facts, int32_t node, const char *name) {
  auto networks = facts.networks.find(node);
  if (networks == facts.networks.end()) return false;
  for (uint32_t network : networks->second) {
    char networkText[32];
    IpToStr(network, networkText);
    auto subnet = facts.subnets.find(networkText);
    if (subnet == facts.subnets.end()) continue;
    if (OfferRepair(Question("\rUnlinked node object %d (\"%s\") can be linked to subnet %d (%s). Link?",
                             node, name, subnet->second, networkText),
                    [&] {
                      return ExecRepair("INSERT INTO nsmap (subnet_id,node_id) VALUES (%d,%d)",
                                        subnet->second, node);
                    }))
      return true;
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

// The repairs of one node touch only that node's rows, so the facts read
// for the block stay true while the block is walked.
void WalkNode(const NodeRow &row, const NodeBlockFacts &facts) {
  if (!row.hasProperties) {
    char lostName[64];
    snprintf(lostName, sizeof(lostName), "lost_node_%d", row.id);
    OfferRepair(Question("\rMissing node object %d properties. Create?", row.id),
                [&] { return CreateLostProperties(row.id, lostName); });
  }
  if (row.linked || facts.inContainer.count(row.id) > 0 || facts.inCluster.count(row.id) > 0) return;
  if (row.primaryIp != 0 && LinkNodeToSubnet(facts, row.id, row.name.c_str())) return;
  OfferRepair(Question("\rUnlinked node object %d (\"%s\"). Delete it?", row.id, row.name.c_str()),
              [&] { return DeleteNode(row.id); });
}

}  // namespace

// Nodes flagged deleted, and live nodes linked to a subnet, need no
// question and are not read. When a query fails, no node is judged, as
// when a node's properties cannot be read.
void CheckNodes() {
  BeginCheckStage("Checking node objects...");
  const char *linked =
      "CASE WHEN EXISTS (SELECT 1 FROM nsmap m WHERE m.node_id=n.id) THEN 1 ELSE 0 END AS linked";
  const std::string columns = std::string("n.id,n.primary_ip,p.object_id,p.name,") + linked;
  const char *withProperties = "nodes n LEFT JOIN object_properties p ON p.object_id=n.id";
  std::vector<KeyWalk> reasons;
  if (OneQueryPerReason()) {
    // Without properties; live and linked to no subnet.
    reasons = {
        {columns, withProperties, "p.object_id IS NULL"},
        {"n.id,n.primary_ip,p.object_id,p.name,0 AS linked",
         "nodes n JOIN object_properties p ON p.object_id=n.id AND p.is_deleted=0 LEFT JOIN nsmap m ON "
         "m.node_id=n.id",
         "m.node_id IS NULL"}};
  } else {
    reasons = {{columns, withProperties,
                "(p.object_id IS NULL OR (p.is_deleted=0 AND NOT EXISTS (SELECT 1 FROM nsmap m WHERE "
                "m.node_id=n.id)))"}};
  }
  MergedWalk walk(reasons, ScreensInTool() ? WalkScreen(ScreenNodes) : nullptr);
  while (walk.next()) {
    std::vector<NodeRow> rows = ReadNodeBlock(walk);
    NodeBlockFacts facts = ReadNodeBlockFacts(rows);
    for (const NodeRow &row : rows) WalkNode(row, facts);
  }
  EndCheckStage();
}
