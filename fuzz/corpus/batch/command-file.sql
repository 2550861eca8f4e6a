CREATE TABLE t (id integer, v varchar(100));
INSERT INTO t (id,v) VALUES (1,'a;b');  
;
	;INSERT INTO t (id,v) VALUES (2,'it''s; "quoted"')