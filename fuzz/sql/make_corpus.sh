#!/bin/sh
# Seed corpus for sql_fuzz: one query per file, every statement kind the
# Installer's SQL has, against the tables the target's package holds.
# Usage: make_corpus.sh DIR
set -e
out=${1:?usage: make_corpus.sh DIR}
mkdir -p "$out"
n=0
while IFS= read -r query; do
  n=$((n + 1))
  printf '%s' "$query" > "$out/query-$n.sql"
done <<'SQL'
SELECT * FROM `Property`
SELECT `Value` FROM `Property` WHERE `Property` = 'A'
SELECT DISTINCT `Component_` FROM `File` ORDER BY `Sequence`, `File`
SELECT `File`.`File`, `Property`.`Value` FROM `File`, `Property` WHERE `File`.`Component_` = `Property`.`Property` AND `FileSize` > 0 OR `Attributes` IS NULL
SELECT * FROM `File` WHERE `Sequence` >= ? AND `File` <> ? AND `Attributes` IS NOT NULL
SELECT `Name`, `Data` FROM `_Streams`
SELECT * FROM `_Tables`, `_Columns` WHERE `_Columns`.`Table` = `_Tables`.`Name`
INSERT INTO `Property` (`Property`, `Value`) VALUES ('B', 'two')
INSERT INTO `File` (`File`, `Component_`, `FileSize`, `Sequence`) VALUES (?, ?, ?, 3) TEMPORARY
UPDATE `File` SET `FileSize` = 7, `Attributes` = NULL WHERE `File` = 'A'
DELETE FROM `Property` WHERE `Value` < 'Z'
CREATE TABLE `T` (`K` SHORT NOT NULL, `V` CHAR(8) LOCALIZABLE, `L` LONGCHAR, `O` OBJECT PRIMARY KEY `K`) HOLD
ALTER TABLE `Property` ADD `Extra` INTEGER TEMPORARY HOLD
ALTER TABLE `File` FREE
DROP TABLE `Property`
SQL
