// The steps from 228 on: dashboards, the SLM and report tables, 802.1x
// port state, and plain storage of the action texts. A new step goes at
// the end of this file.
#include <cstdio>
#include <iterator>

#include "runtime/tv_string.h"
#include "session/globals.h"
#include "session/sql_exec.h"
#include "upgrade/helpers.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

constexpr const char kCreateSlmChecks[] =
    "CREATE TABLE slm_checks ("
    "id integer not null,"
    "type integer not null,"
    "content $SQL:TEXT null,"
    "threshold_id integer not null,"
    "reason varchar(255) null,"
    "is_template integer not null,"
    "PRIMARY KEY(id))";
constexpr const char kCreateSlmTickets[] =
    "CREATE TABLE slm_tickets ("
    "ticket_id integer not null,"
    "service_id integer not null,"
    "check_id integer not null,"
    "create_timestamp integer not null,"
    "close_timestamp integer not null,"
    "reason varchar(255) null,"
    "PRIMARY KEY(ticket_id))";
constexpr const char kCreateSlmServiceHistory[] =
    "CREATE TABLE slm_service_history ("
    "record_id integer not null,"
    "service_id integer not null,"
    "change_timestamp integer not null,"
    "new_status integer not null,"
    "PRIMARY KEY(record_id))";
constexpr const char kCreateReportResults[] =
    "CREATE TABLE report_results ("
    "report_id integer not null,"
    "generated integer not null,"
    "job_id integer not null,"
    "PRIMARY KEY(report_id,job_id))";
constexpr const char kCreateReports[] =
    "CREATE TABLE reports ("
    "id integer not null,"
    "definition $SQL:TEXT null,"
    "PRIMARY KEY(id))";
constexpr const char kCreateJobHistory[] =
    "CREATE TABLE job_history ("
    "id integer not null,"
    "time_created integer not null,"
    "time_started integer not null,"
    "time_finished integer not null,"
    "job_type varchar(127) null,"
    "description varchar(255) null,"
    "additional_info varchar(255) null,"
    "node_id integer not null,"
    "user_id integer not null,"
    "status integer not null,"
    "failure_message varchar(255) null,"
    "PRIMARY KEY(id))";
constexpr const char kRearmDescription[] =
    "UPDATE event_cfg SET description="
    "'Generated when threshold check is rearmed for specific data collection item.#0D#0A"
    "Parameters:#0D#0A"
    "   1) Parameter name#0D#0A"
    "   2) Item description#0D#0A"
    "   3) Data collection item ID#0D#0A"
    "   4) Instance#0D#0A"
    "   5) Threshold value#0D#0A"
    "   6) Actual value'"
    " WHERE event_code=18";
constexpr ConfigVariable kJobHistoryRetentionTime{"JobHistoryRetentionTime", "90", 1, 0};

constexpr Action kStep228[] = {
    CreateTable{"CREATE TABLE dashboards ("
                "   id integer not null,"
                "   num_columns integer not null,"
                "   PRIMARY KEY(id))"},
    CreateTable{"CREATE TABLE dashboard_elements ("
                "   dashboard_id integer not null,"
                "   element_id integer not null,"
                "   element_type integer not null,"
                "   element_data $SQL:TEXT null,"
                "   horizontal_span integer not null,"
                "   vertical_span integer not null,"
                "   horizontal_alignment integer not null,"
                "   vertical_alignment integer not null,"
                "   PRIMARY KEY(dashboard_id,element_id))"},
};

// The four layout columns of a dashboard element become one XML text.
bool ConvertDashboardLayouts() {
  bool goOn;
  Result result = StepSelect(
      "SELECT dashboard_id,element_id,horizontal_span,vertical_span,horizontal_alignment,"
      "vertical_alignment FROM dashboard_elements",
      &goOn);
  if (result == nullptr) return goOn;
  int rows = DBGetNumRows(result.get());
  for (int row = 0; row < rows; row++) {
    char layout[1024];
    snprintf(
        layout, sizeof(layout),
        "<layout><horizontalSpan>%d</horizontalSpan><verticalSpan>%d</verticalSpan><horizontalAlignment>%d</"
        "horizontalAlignment><verticalAlignment>%d</verticalAlignment></layout>",
        DBGetFieldLong(result.get(), row, 2), DBGetFieldLong(result.get(), row, 3),
        DBGetFieldLong(result.get(), row, 4), DBGetFieldLong(result.get(), row, 5));
    String statement;
    statement.addFormattedString(
        "UPDATE dashboard_elements SET layout_data=%s WHERE dashboard_id=%d AND element_id=%d",
        DBPrepareString(DbHandle, layout, -1).cstr(), DBGetFieldLong(result.get(), row, 0),
        DBGetFieldLong(result.get(), row, 1));
    if (!StepSql(statement)) return false;
  }
  return true;
}

constexpr Action kStep229[] = {
    Batch{"ALTER TABLE network_maps ADD bg_latitude varchar(20)\n"
          "ALTER TABLE network_maps ADD bg_longitude varchar(20)\n"
          "ALTER TABLE network_maps ADD bg_zoom integer\n"
          "ALTER TABLE dashboard_elements ADD layout_data $SQL:TEXT\n"
          "<END>"},
    Conversion{ConvertDashboardLayouts},
    Batch{"ALTER TABLE dashboard_elements DROP COLUMN horizontal_span\n"
          "ALTER TABLE dashboard_elements DROP COLUMN vertical_span\n"
          "ALTER TABLE dashboard_elements DROP COLUMN horizontal_alignment\n"
          "ALTER TABLE dashboard_elements DROP COLUMN vertical_alignment\n"
          "<END>"},
    ConfigVariable{"TileServerURL", "http://tile.openstreetmap.org/", 1, 0, true},
};

constexpr Action kStep230[] = {
    AddedColumn{"nodes", "bridge_base_addr", "varchar(15)", "'000000000000'"},
};

constexpr Line kStep231Lines[] = {
    AddedColumn{"object_properties", "submap_id", "integer", "0"},
    Batch{"DROP TABLE maps\n"
          "DROP TABLE map_access_lists\n"
          "DROP TABLE submaps\n"
          "DROP TABLE submap_object_positions\n"
          "DROP TABLE submap_links\n"
          "<END>"},
};

constexpr Action kStep231[] = {
    Part{kStep231Lines},
};

constexpr Action kStep232[] = {
    CreateTable{kCreateSlmChecks},
    CreateTable{kCreateSlmTickets},
    CreateTable{kCreateSlmServiceHistory},
    CreateTable{kCreateReportResults},
    CreateTable{kCreateReports},
    CreateTable{kCreateJobHistory},
    CreateTable{"CREATE TABLE business_services ("
                "service_id integer not null,"
                "PRIMARY KEY(service_id))"},
    CreateTable{"CREATE TABLE business_service_templates ("
                "service_id integer not null,"
                "template_id integer not null,"
                "PRIMARY KEY(service_id,template_id))"},
    CreateTable{"CREATE TABLE node_links ("
                "nodelink_id integer not null,"
                "node_id integer not null,"
                "PRIMARY KEY(nodelink_id))"},
    CreateTable{"CREATE TABLE slm_agreements ("
                "agreement_id integer not null,"
                "service_id integer not null,"
                "org_id integer not null,"
                "uptime varchar(63) not null,"
                "period integer not null,"
                "start_date integer not null,"
                "notes varchar(255),"
                "PRIMARY KEY(agreement_id))"},
    CreateTable{"CREATE TABLE organizations ("
                "id integer not null,"
                "parent_id integer not null,"
                "org_type integer not null,"
                "name varchar(63) not null,"
                "description varchar(255),"
                "manager integer not null,"
                "PRIMARY KEY(id))"},
    CreateTable{"CREATE TABLE persons ("
                "id integer not null,"
                "org_id integer not null,"
                "first_name varchar(63),"
                "last_name varchar(63),"
                "title varchar(255),"
                "status integer not null,"
                "PRIMARY KEY(id))"},
    kJobHistoryRetentionTime,
    Statement{kRearmDescription},
};

constexpr Action kStep233[] = {
    CreateTable{kCreateJobHistory},
    kJobHistoryRetentionTime,
    Statement{kRearmDescription},
};

constexpr Action kStep234[] = {CreateTable{kCreateReports}};

constexpr Action kStep235[] = {CreateTable{kCreateReportResults}};

constexpr Action kStep236[] = {
    Batch{"ALTER TABLE business_services DROP COLUMN name\n"
          "ALTER TABLE business_services DROP COLUMN parent_id\n"
          "ALTER TABLE business_services DROP COLUMN status\n"
          "ALTER TABLE slm_checks DROP COLUMN name\n"
          "<END>"},
};

constexpr Action kStep237[] = {
    Batch{"DROP TABLE slm_check_templates\n"
          "DROP TABLE node_link_checks\n"
          "DROP TABLE slm_checks\n"
          "DROP TABLE slm_tickets\n"
          "<END>"},
    CreateTable{kCreateSlmChecks},
    CreateTable{kCreateSlmTickets},
    CreateTable{kCreateSlmServiceHistory},
};

constexpr Action kStep238[] = {
    EventTemplate{
        56, "SYS_IP_ADDRESS_CHANGED", 1, "Primary IP address changed from %2 to %1",
        "Generated when primary IP address changed (usually because of primary name change or DNS change).#0D#0A"
        "Parameters:#0D#0A"
        "   1) New IP address#0D#0A"
        "   2) Old IP address#0D#0A"
        "   3) Primary host name",
        TextForm::kStored},
};

constexpr Action kStep239[] = {Statement{"ALTER TABLE raw_dci_values ADD transformed_value varchar(255)"}};

constexpr Action kStep240[] = {
    Batch{"ALTER TABLE slm_checks ADD template_id integer\n"
          "ALTER TABLE slm_checks ADD current_ticket integer\n"
          "UPDATE slm_checks SET template_id=0,current_ticket=0\n"
          "<END>"},
};

constexpr Line kStep241Lines[] = {
    Batch{"DROP TABLE business_service_templates\n"
          "<END>"},
    AddedColumn{"dashboards", "options", "integer", "0"},
};

constexpr Action kStep241[] = {
    Part{kStep241Lines},
};

constexpr Line kStep242Lines[] = {
    AddedColumn{"items", "flags", "integer", "adv_schedule+(all_thresholds*2)"},
    Batch{"ALTER TABLE items DROP COLUMN adv_schedule\n"
          "ALTER TABLE items DROP COLUMN all_thresholds\n"
          "<END>"},
    AddedColumn{"items", "snmp_raw_value_type", "integer", "0"},
};

constexpr Action kStep242[] = {
    Part{kStep242Lines},
};

constexpr Action kStep243[] = {
    Batch{"ALTER TABLE interfaces ADD dot1x_pae_state integer\n"
          "ALTER TABLE interfaces ADD dot1x_backend_state integer\n"
          "UPDATE interfaces SET dot1x_pae_state=0,dot1x_backend_state=0\n"
          "<END>"},
    EventTemplate{57, "SYS_8021X_PAE_STATE_CHANGED", 0, "Port %6 PAE state changed from %4 to %2",
                  "Generated when switch port PAE state changed.\r\n"
                  "Parameters:\r\n"
                  "   1) New PAE state code\r\n"
                  "   2) New PAE state as text\r\n"
                  "   3) Old PAE state code\r\n"
                  "   4) Old PAE state as text\r\n"
                  "   5) Interface index\r\n"
                  "   6) Interface name"},
    EventTemplate{58, "SYS_8021X_BACKEND_STATE_CHANGED", 0,
                  "Port %6 backend authentication state changed from %4 to %2",
                  "Generated when switch port backend authentication state changed.\r\n"
                  "Parameters:\r\n"
                  "   1) New backend state code\r\n"
                  "   2) New backend state as text\r\n"
                  "   3) Old backend state code\r\n"
                  "   4) Old backend state as text\r\n"
                  "   5) Interface index\r\n"
                  "   6) Interface name"},
    EventTemplate{59, "SYS_8021X_PAE_FORCE_UNAUTH", 3, "Port %2 switched to force unauthorize state",
                  "Generated when switch port PAE state changed to FORCE UNAUTHORIZE.\r\n"
                  "Parameters:\r\n"
                  "   1) Interface index\r\n"
                  "   2) Interface name"},
    EventTemplate{60, "SYS_8021X_AUTH_FAILED", 3, "802.1x authentication failed on port %2",
                  "Generated when switch port backend authentication state changed to FAIL.\r\n"
                  "Parameters:\r\n"
                  "   1) Interface index\r\n"
                  "   2) Interface name"},
    EventTemplate{61, "SYS_8021X_AUTH_TIMEOUT", 3, "802.1x authentication time out on port %2",
                  "Generated when switch port backend authentication state changed to TIMEOUT.\r\n"
                  "Parameters:\r\n"
                  "   1) Interface index\r\n"
                  "   2) Interface name"},
};

constexpr Action kStep244[] = {
    AddedColumn{"nodes", "runtime_flags", "integer", "0"},
    NullableColumn{"actions", "rcpt_addr", "varchar(255)"},
    NullableColumn{"actions", "email_subject", "varchar(255)"},
    NullableColumn{"actions", "action_data", "$SQL:TEXT"},
    RecodedColumn{"actions", "action_id", "rcpt_addr"},
    RecodedColumn{"actions", "action_id", "email_subject"},
    RecodedColumn{"actions", "action_id", "action_data"},
};

constexpr UpgradeStep kRows[] = {
    {228, 229, kStep228},
    {229, 230, kStep229},
    {230, 231, kStep230},
    {231, 232, kStep231},
    // A database at 232 takes the combined step; 233..237 take the single
    // steps from where they stand.
    {232, 238, kStep232},
    {233, 234, kStep233},
    {234, 235, kStep234},
    {235, 236, kStep235},
    {236, 237, kStep236},
    {237, 238, kStep237},
    {238, 239, kStep238},
    {239, 240, kStep239},
    {240, 241, kStep240},
    {241, 242, kStep241},
    {242, 243, kStep242},
    {243, 244, kStep243},
    {244, 245, kStep244},
};

// The tool is built for the version that the last step reaches.
static_assert(std::end(kRows)[-1].to == kToolSchemaVersion,
              "kToolSchemaVersion (session/globals.h) must be the `to` of the last step");

}  // namespace

extern const std::span<const UpgradeStep> UpgradeStepsFrom228 = kRows;
