-- The example queries of docs/store.md; the same text runs in sqlite3 and psql.

-- Machines with less than 8 GB of RAM (newest scan of each; machines whose
-- report lists no module capacity are left out, their RAM being unknown).
SELECT l.machine, SUM(CAST(REPLACE(r.value, ' MB', '') AS INTEGER)) AS ram_mb
FROM latest l JOIN "rows" r ON r.scan_id = l.id
WHERE r.section = 'Memory' AND r.label = 'Capacity' AND r.value LIKE '% MB'
GROUP BY l.machine
HAVING SUM(CAST(REPLACE(r.value, ' MB', '') AS INTEGER)) < 8192
ORDER BY l.machine;

-- Machines with a given program (here anything named like "7-Zip").
SELECT l.machine, s.name, s.version
FROM latest l JOIN software s ON s.scan_id = l.id
WHERE LOWER(s.name) LIKE '%7-zip%'
ORDER BY l.machine, s.name;

-- Disks by model, over the newest scan of every machine.
SELECT r.value AS model, COUNT(*) AS disks, COUNT(DISTINCT l.machine_id) AS machines
FROM latest l JOIN "rows" r ON r.scan_id = l.id
WHERE r.section = 'HDD' AND r.label = 'Model'
GROUP BY r.value
ORDER BY disks DESC, model;
