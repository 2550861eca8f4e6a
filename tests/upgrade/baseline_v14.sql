-- A monitoring database at schema version 14, the oldest one the upgrade
-- accepts: test data for the old upgrade steps, never installed.
--
-- One source for every engine: the type macros are expanded for the
-- connected dialect as the tool's own batches expand them, and the loader
-- adds the dialect record DBSyntax. Statements end with ";" at the end of
-- a line; lines starting with "--" are comments.
--
-- The tables hold the columns that some upgrade step, check, conversion
-- or export/import names, plus their keys (see docs/schema.md, "The
-- version-14 baseline"). Columns that a later step drops carry no index
-- and no DEFAULT: SQLite cannot drop an indexed column and SQL Server one
-- with a default constraint.

CREATE TABLE config (
  var_name varchar(63) not null,
  var_value varchar(255),
  is_visible integer,
  need_server_restart integer,
  PRIMARY KEY(var_name));

CREATE TABLE users (
  id integer not null,
  access integer,
  PRIMARY KEY(id));

CREATE TABLE user_groups (
  id integer not null,
  access integer,
  PRIMARY KEY(id));

CREATE TABLE user_group_members (
  group_id integer not null,
  user_id integer not null,
  PRIMARY KEY(group_id,user_id));

-- The per-class object tables still carry name, status, deletion flag and
-- image, which 26 -> 27 gathers into object_properties.
CREATE TABLE nodes (
  id integer not null,
  name varchar(63),
  status integer,
  is_deleted integer,
  image_id integer,
  inherit_access_rights integer,
  primary_ip varchar(15),
  is_snmp integer,
  is_agent integer,
  is_bridge integer,
  is_router integer,
  is_local_mgmt integer,
  discovery_flags integer,
  node_type integer,
  description varchar(255),
  community varchar(32) not null,
  snmp_oid varchar(255),
  secret varchar(64),
  PRIMARY KEY(id));

CREATE TABLE subnets (
  id integer not null,
  name varchar(63),
  status integer,
  is_deleted integer,
  image_id integer,
  ip_addr varchar(15),
  PRIMARY KEY(id));

CREATE TABLE interfaces (
  id integer not null,
  name varchar(63),
  status integer,
  is_deleted integer,
  image_id integer,
  node_id integer,
  ip_addr varchar(15),
  ip_netmask varchar(15),
  PRIMARY KEY(id));

CREATE TABLE containers (
  id integer not null,
  name varchar(63),
  status integer,
  is_deleted integer,
  image_id integer,
  description varchar(255),
  PRIMARY KEY(id));

-- Templates have no status: 26 -> 27 gives them status 5.
CREATE TABLE templates (
  id integer not null,
  name varchar(63),
  is_deleted integer,
  image_id integer,
  description varchar(255),
  PRIMARY KEY(id));

CREATE TABLE access_options (
  object_id integer not null,
  inherit_rights integer,
  PRIMARY KEY(object_id));

CREATE TABLE dct_node_map (
  template_id integer not null,
  node_id integer not null,
  PRIMARY KEY(template_id,node_id));

CREATE TABLE nsmap (
  subnet_id integer not null,
  node_id integer not null,
  PRIMARY KEY(subnet_id,node_id));

CREATE TABLE container_members (
  container_id integer not null,
  object_id integer not null,
  PRIMARY KEY(container_id,object_id));

CREATE TABLE container_categories (
  category_id integer not null,
  description $SQL:TEXT,
  PRIMARY KEY(category_id));

CREATE TABLE acl (
  object_id integer not null,
  user_id integer not null,
  PRIMARY KEY(object_id,user_id));

CREATE TABLE new_nodes (
  id integer not null,
  PRIMARY KEY(id));

CREATE TABLE items (
  item_id integer not null,
  node_id integer,
  datatype integer,
  name varchar(255),
  description varchar(255),
  transformation $SQL:TEXT,
  PRIMARY KEY(item_id));

CREATE TABLE thresholds (
  item_id integer not null,
  sequence_number integer not null,
  PRIMARY KEY(item_id,sequence_number));

-- Event templates before 17 -> 18 moves them to event_cfg.
CREATE TABLE events (
  event_id integer not null,
  name varchar(63) not null,
  severity integer,
  flags integer,
  message varchar(255),
  description $SQL:TEXT,
  PRIMARY KEY(event_id));

CREATE TABLE event_groups (
  id integer not null,
  PRIMARY KEY(id));

CREATE TABLE event_group_members (
  group_id integer not null,
  event_id integer not null,
  PRIMARY KEY(group_id,event_id));

CREATE TABLE event_log (
  event_id integer not null,
  PRIMARY KEY(event_id));

CREATE TABLE actions (
  action_id integer not null,
  rcpt_addr varchar(255),
  email_subject varchar(255),
  action_data $SQL:TEXT,
  PRIMARY KEY(action_id));

CREATE TABLE event_policy (
  rule_id integer not null,
  alarm_severity integer,
  alarm_key varchar(255),
  alarm_ack_key varchar(255),
  comments $SQL:TEXT,
  PRIMARY KEY(rule_id));

CREATE TABLE policy_source_list (
  rule_id integer not null,
  object_id integer not null,
  PRIMARY KEY(rule_id,object_id));

CREATE TABLE policy_event_list (
  rule_id integer not null,
  event_id integer not null,
  PRIMARY KEY(rule_id,event_id));

CREATE TABLE policy_action_list (
  rule_id integer not null,
  action_id integer not null,
  PRIMARY KEY(rule_id,action_id));

CREATE TABLE deleted_objects (
  object_id integer not null,
  PRIMARY KEY(object_id));

CREATE TABLE alarms (
  alarm_id integer not null,
  severity integer,
  alarm_timestamp integer,
  is_ack integer,
  source_event_id integer,
  message varchar(255),
  alarm_key varchar(255),
  ack_by integer,
  PRIMARY KEY(alarm_id));

CREATE TABLE alarm_notes (
  note_id integer not null,
  PRIMARY KEY(note_id));

CREATE TABLE locks (
  component_id integer not null,
  PRIMARY KEY(component_id));

CREATE TABLE images (
  image_id integer not null,
  name varchar(63),
  file_name_png varchar(255),
  file_hash_png varchar(32),
  file_name_ico varchar(255),
  file_hash_ico varchar(32),
  PRIMARY KEY(image_id));

CREATE TABLE default_images (
  object_class integer not null,
  image_id integer,
  PRIMARY KEY(object_class));

CREATE TABLE oid_to_type (
  pair_id integer not null,
  snmp_oid varchar(255),
  node_type integer,
  node_flags integer,
  PRIMARY KEY(pair_id));

-- Values in the escaped text form ("#25" is "%"). No SMTPServer and no
-- SMTPFromAddr: 14 -> 15 inserts them with plain INSERTs. No lock
-- variables either: 16 -> 17 brings them.
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DBFormatVersion','14',0,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('IDataTableCreationCommand','CREATE TABLE idata_#25d (item_id integer not null,idata_timestamp integer not null,idata_value varchar(255) null)',0,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('TopologyRootObjectName','Entire Network',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('TopologyRootImageId','0',0,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('ServiceRootObjectName','All Services',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('ServiceRootImageId','0',0,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('TemplateRootObjectName','Templates',1,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('TemplateRootImageId','0',0,1);
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('NewNodePollingInterval','60',1,1);
-- In seconds until 69 -> 70 turns it into days.
INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('EventLogRetentionTime','5184000',1,0);

-- The built-in administrator with every right, and the group of everyone.
INSERT INTO users (id,access) VALUES (0,65535);
INSERT INTO user_groups (id,access) VALUES (-2147483648,0);

-- The three built-in roots (topology, services, templates) exist only in
-- the access table; their names and images are the variables above.
INSERT INTO access_options (object_id,inherit_rights) VALUES (1,0);
INSERT INTO access_options (object_id,inherit_rights) VALUES (2,0);
INSERT INTO access_options (object_id,inherit_rights) VALUES (3,0);

-- The threshold events whose descriptions 14 -> 15 rewrites.
INSERT INTO events (event_id,name,severity,flags,message,description) VALUES (17,'SYS_THRESHOLD_REACHED',1,1,'Threshold reached','#00');
INSERT INTO events (event_id,name,severity,flags,message,description) VALUES (18,'SYS_THRESHOLD_REARMED',0,1,'Threshold rearmed','#00');
