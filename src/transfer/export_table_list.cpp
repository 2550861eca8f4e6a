#include "transfer/export_table_list.h"

const char *const ExportTableList[] = {
    "config", "config_clob", "users", "user_groups", "user_group_members", "user_profiles",
    "userdb_custom_attributes", "object_properties", "object_custom_attributes", "zones",
    "nodes", "clusters", "cluster_members", "cluster_sync_subnets", "cluster_resources", "subnets",
    "interfaces", "network_services", "vpn_connectors", "vpn_connector_networks",
    "containers", "conditions", "cond_dci_map", "templates", "dct_node_map", "nsmap", "container_members",
    "container_categories", "acl", "trusted_nodes",
    "items", "dci_schedules", "raw_dci_values", "event_cfg", "event_log", "actions", "event_groups",
    "event_group_members", "event_policy", "policy_source_list",
    "policy_event_list", "policy_action_list", "policy_time_range_list", "policy_situation_attr_list",
    "time_ranges", "deleted_objects", "thresholds", "alarms", "alarm_notes", "snmp_trap_cfg",
    "snmp_trap_pmap", "agent_pkg", "object_tools", "object_tools_acl", "object_tools_table_columns", "syslog",
    "script_library", "snmp_trap_log", "agent_configs", "address_lists",
    "graphs", "graph_acl", "certificates", "audit_log", "situations", "snmp_communities", "ap_common",
    "ap_bindings", "ap_config_files", "usm_credentials",
    "network_maps", "network_map_elements", "network_map_links", "images", "dashboards", "dashboard_elements",
    "business_services", "slm_checks", "node_links", "slm_agreements",
    "slm_tickets", "slm_service_history", "organizations", "persons", "job_history", "reports",
    "report_results", nullptr};
