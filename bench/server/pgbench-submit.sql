-- One submission's database work as the PostgreSQL store sends it (one call of zolvex_submit,
-- a transaction of its own), for PostgreSQL's own pgbench; pgbenchrun.sh runs it:
--   pgbench -n -f bench/server/pgbench-submit.sql -D players=N -c 1 -T SECONDS -l ...
-- Half of the submissions come from known players (the fill names them md5('fill' || g)), half
-- from new ones; scores in steps of 10 around 20000, as bench_pgstore sends them.
\set g random(1, :players)
\set known random(0, 1)
\set score 10 * random_gaussian(-500, 4500, 2.5)
SELECT * FROM zolvex_submit(
  p_player => CASE WHEN :known = 1 THEN md5('fill' || :g) ELSE '' END, p_score => :score,
  p_code => 'pgbench-' || gen_random_uuid(), p_name => 'Bench', p_city => 'Bern',
  p_country => 'CH', p_email => '', p_age => 0, p_sex => 'm', p_comment => '', p_started => 1,
  p_won => 1, p_address => '127.0.0.1', p_time => extract(epoch FROM now())::bigint,
  p_week => extract(epoch FROM date_trunc('week', now() AT TIME ZONE 'UTC'))::bigint,
  p_name_key => 'bench');
