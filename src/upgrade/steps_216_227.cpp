// Steps 216 -> 227: SNMP credentials and item texts in plain storage, the
// image library, interface topology, the zone rework and smaller column
// additions.
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

// Every text column is made nullable first: the recoding writes '' for an
// empty text, which Oracle stores as NULL.
constexpr Action kStep216[] = {
    Batch{"ALTER TABLE nodes ADD snmp_port integer\n"
          "UPDATE nodes SET snmp_port=161\n"
          "ALTER TABLE items ADD snmp_port integer\n"
          "UPDATE items SET snmp_port=0\n"
          "<END>"},
    NullableColumn{"nodes", "community", ""},
    RecodedColumn{"nodes", "id", "community"},
    NullableColumn{"nodes", "usm_auth_password", ""},
    RecodedColumn{"nodes", "id", "usm_auth_password"},
    NullableColumn{"nodes", "usm_priv_password", ""},
    RecodedColumn{"nodes", "id", "usm_priv_password"},
    NullableColumn{"nodes", "snmp_oid", ""},
    RecodedColumn{"nodes", "id", "snmp_oid"},
    NullableColumn{"nodes", "secret", "varchar(64)"},
    RecodedColumn{"nodes", "id", "secret"},
    NullableColumn{"nodes", "agent_version", "varchar(63)"},
    RecodedColumn{"nodes", "id", "agent_version"},
    NullableColumn{"nodes", "platform_name", "varchar(63)"},
    RecodedColumn{"nodes", "id", "platform_name"},
    NullableColumn{"nodes", "uname", "varchar(255)"},
    RecodedColumn{"nodes", "id", "uname"},
    NullableColumn{"items", "name", "varchar(255)"},
    RecodedColumn{"items", "item_id", "name"},
    NullableColumn{"items", "description", "varchar(255)"},
    RecodedColumn{"items", "item_id", "description"},
    NullableColumn{"items", "transformation", "$SQL:TEXT"},
    RecodedColumn{"items", "item_id", "transformation"},
    NullableColumn{"items", "instance", "varchar(255)"},
    RecodedColumn{"items", "item_id", "instance"},
};

constexpr Action kStep217[] = {
    NullableColumn{"snmp_communities", "community", ""},
    RecodedColumn{"snmp_communities", "id", "community"},
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

constexpr Action kStep219[] = {
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
          "ALTER TABLE nodes ADD snmp_sys_name varchar(127)\n"
          "UPDATE nodes SET snmp_sys_name=''\n"
          "<END>"},
};

// The background becomes an image GUID instead of a number.
constexpr Action kStep220[] = {
    Batch{"ALTER TABLE network_maps DROP COLUMN background\n"
          "ALTER TABLE network_maps ADD background varchar(36)\n"
          "<END>"},
};

constexpr Action kStep221[] = {
    Batch{"ALTER TABLE object_properties ADD image varchar(36)\n"
          "UPDATE object_properties SET image='00000000-0000-0000-0000-000000000000'\n"
          "<END>"},
};

constexpr Action kStep222[] = {
    Batch{"DROP TABLE oid_to_type\n"
          "ALTER TABLE nodes DROP COLUMN node_type\n"
          "ALTER TABLE nodes ADD primary_name varchar(255)\n"
          "UPDATE nodes SET primary_name=primary_ip\n"
          "<END>"},
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
    Batch{"ALTER TABLE interfaces ADD description varchar(255)\n"
          "UPDATE interfaces SET description=''\n"
          "<END>"},
};

constexpr Action kStep225[] = {
    Batch{"ALTER TABLE interfaces ADD flags integer\n"
          "UPDATE interfaces SET flags=0\n"
          "UPDATE interfaces SET flags=1 WHERE synthetic_mask<>0\n"
          "ALTER TABLE interfaces DROP COLUMN synthetic_mask\n"
          "<END>"},
};

constexpr Action kStep226[] = {
    Batch{"ALTER TABLE clusters ADD zone_guid integer\n"
          "UPDATE clusters SET zone_guid=0\n"
          "<END>"},
};

constexpr UpgradeStep kRows[] = {
    {216, 217, kStep216}, {217, 218, kStep217}, {218, 219, kStep218}, {219, 220, kStep219},
    {220, 221, kStep220}, {221, 222, kStep221}, {222, 223, kStep222}, {223, 224, kStep223},
    {224, 225, kStep224}, {225, 226, kStep225}, {226, 227, kStep226},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps216To227 = kRows;
