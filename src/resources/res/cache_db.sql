-- The download cache manifest: the device files already fetched and the
-- modification time each had then, in seconds since 1970-01-01 UTC.
CREATE TABLE IF NOT EXISTS manifest (
    file_name VARCHAR PRIMARY KEY,
    last_date INTEGER NOT NULL
);
