// Steps 216 -> 227: SNMP credentials and item texts in plain storage, the
// image library, interface topology, the zone rework and smaller column
// additions.
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

constexpr Line kStep216Lines[] = {
    AddedColumn{"nodes", "snmp_port", "integer", "161"},
    AddedColumn{"items", "snmp_port", "integer", "0"},
};

// Every text column is made nullable first: the recoding writes '' for an
// empty text, which Oracle stores as NULL.
constexpr Action kStep216[] = {
    Part{kStep216Lines},
    PlainTextColumn{"nodes", "id", "community", ""},
    PlainTextColumn{"nodes", "id", "usm_auth_password", ""},
    PlainTextColumn{"nodes", "id", "usm_priv_password", ""},
    PlainTextColumn{"nodes", "id", "snmp_oid", ""},
    PlainTextColumn{"nodes", "id", "secret", "varchar(64)"},
    PlainTextColumn{"nodes", "id", "agent_version", "varchar(63)"},
    PlainTextColumn{"nodes", "id", "platform_name", "varchar(63)"},
    PlainTextColumn{"nodes", "id", "uname", "varchar(255)"},
    PlainTextColumn{"items", "item_id", "name", "varchar(255)"},
    PlainTextColumn{"items", "item_id", "description", "varchar(255)"},
    PlainTextColumn{"items", "item_id", "transformation", "$SQL:TEXT"},
    PlainTextColumn{"items", "item_id", "instance", "varchar(255)"},
};

constexpr Action kStep217[] = {
    PlainTextColumn{"snmp_communities", "id", "community", ""},
};

// The runs of spaces are the statement's own.
constexpr Action kStep218[] = {
    CreateTable{"CREATE TABLE images ("
                "   guid varchar(36) not null,"
                "   mimetype varchar(64) not null,"
                "   name varchar(255) not null,"
                "   category varchar(255) not null,"
                "   protected integer default 0,"
                "      PRIMARY KEY(guid),"
                "   UNIQUE(name, category))"},
    Batch{"INSERT INTO images (guid, mimetype, name, category, protected) "
          "VALUES ('1ddb76a3-a05f-4a42-acda-22021768feaf', 'image/png', 'ATM', 'Network Objects', 1)\n"
          "INSERT INTO images (guid, mimetype, name, category, protected) "
          "VALUES ('b314cf44-b2aa-478e-b23a-73bc5bb9a624', 'image/png', 'HSM', 'Network Objects', 1)\n"
          "INSERT INTO images (guid, mimetype, name, category, protected) "
          "VALUES ('904e7291-ee3f-41b7-8132-2bd29288ecc8', 'image/png', 'Node', 'Network Objects', 1)\n"
          "INSERT INTO images (guid, mimetype, name, category, protected) "
          "VALUES ('f5214d16-1ab1-4577-bb21-063cfd45d7af', 'image/png', 'Printer', 'Network Objects', 1)\n"
          "INSERT INTO images (guid, mimetype, name, category, protected) "
          "VALUES ('bacde727-b183-4e6c-8dca-ab024c88b999', 'image/png', 'Router', 'Network Objects', 1)\n"
          "INSERT INTO images (guid, mimetype, name, category, protected) "
          "VALUES ('ba6ab507-f62d-4b8f-824c-ca9d46f22375', 'image/png', 'Server', 'Network Objects', 1)\n"
          "INSERT INTO images (guid, mimetype, name, category, protected) "
          "VALUES ('092e4b35-4e7c-42df-b9b7-d5805bfac64e', 'image/png', 'Service', 'Network Objects', 1)\n"
          "INSERT INTO images (guid, mimetype, name, category, protected) "
          "VALUES ('f9105c54-8dcf-483a-b387-b4587dfd3cba', 'image/png', 'Switch', 'Network Objects', 1)\n"
          "INSERT INTO images (guid, mimetype, name, category, protected) "
          "VALUES ('7cd999e9-fbe0-45c3-a695-f84523b3a50c', 'image/png', 'Unknown', 'Network Objects', 1)\n"
          "<END>"},
};

constexpr Line kStep219Lines[] = {
    Batch{"ALTER TABLE interfaces ADD bridge_port integer\n"
          "ALTER TABLE interfaces ADD phy_slot integer\n"
          "ALTER TABLE interfaces ADD phy_port integer\n"
          "ALTER TABLE interfaces ADD peer_node_id integer\n"
          "ALTER TABLE interfaces ADD peer_if_id integer\n"
          "UPDATE interfaces SET "
          "bridge_port=0,"
          "phy_slot=0,"
          "phy_port=0,"
          "peer_node_id=0,"
          "peer_if_id=0\n"
          "<END>"},
    AddedColumn{"nodes", "snmp_sys_name", "varchar(127)", "''"},
};

constexpr Action kStep219[] = {
    Part{kStep219Lines},
};

// The background becomes an image GUID instead of a number.
constexpr Action kStep220[] = {
    Batch{"ALTER TABLE network_maps DROP COLUMN background\n"
          "ALTER TABLE network_maps ADD background varchar(36)\n"
          "<END>"},
};

constexpr Action kStep221[] = {
    AddedColumn{"object_properties", "image", "varchar(36)", "'00000000-0000-0000-0000-000000000000'"},
};

constexpr Line kStep222Lines[] = {
    Batch{"DROP TABLE oid_to_type\n"
          "ALTER TABLE nodes DROP COLUMN node_type\n"
          "<END>"},
    AddedColumn{"nodes", "primary_name", "varchar(255)", "primary_ip"},
};

constexpr Action kStep222[] = {
    Part{kStep222Lines},
};

constexpr Action kStep223[] = {
    Batch{"DROP TABLE zone_ip_addr_list\n"
          "ALTER TABLE zones DROP COLUMN zone_type\n"
          "ALTER TABLE zones DROP COLUMN controller_ip\n"
          "ALTER TABLE zones ADD agent_proxy integer\n"
          "ALTER TABLE zones ADD snmp_proxy integer\n"
          "ALTER TABLE zones ADD icmp_proxy integer\n"
          "UPDATE zones SET "
          "agent_proxy=0,"
          "snmp_proxy=0,"
          "icmp_proxy=0\n"
          "<END>"},
};

constexpr Action kStep224[] = {
    AddedColumn{"interfaces", "description", "varchar(255)", "''"},
};

constexpr Line kStep225Lines[] = {
    AddedColumn{"interfaces", "flags", "integer", "0"},
    Batch{"UPDATE interfaces SET flags=1 WHERE synthetic_mask<>0\n"
          "ALTER TABLE interfaces DROP COLUMN synthetic_mask\n"
          "<END>"},
};

constexpr Action kStep225[] = {
    Part{kStep225Lines},
};

constexpr Action kStep226[] = {
    AddedColumn{"clusters", "zone_guid", "integer", "0"},
};

constexpr UpgradeStep kRows[] = {
    {216, 217, kStep216}, {217, 218, kStep217}, {218, 219, kStep218}, {219, 220, kStep219},
    {220, 221, kStep220}, {221, 222, kStep221}, {222, 223, kStep222}, {223, 224, kStep223},
    {224, 225, kStep224}, {225, 226, kStep225}, {226, 227, kStep226},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps216To227 = kRows;
