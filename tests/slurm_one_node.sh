#!/usr/bin/env bash
# Runs the genome-wide workflow through Slurm: a one-node cluster (slurmctld
# and slurmd on this machine, authenticated by munge) is set up and started,
# tests/test_workflow.sh runs with the Slurm profile, and the daemons are
# stopped again. Needs root (it installs slurm-wlm and munge when missing).
#   tests/slurm_one_node.sh <source dir> <tarvik binary>
set -euo pipefail
src="$(cd "$1" && pwd)" tarvik="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
if ! command -v slurmctld >/dev/null || ! command -v munged >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends slurm-wlm munge >/dev/null
fi
host=$(hostname -s)
cpus=$(nproc)
memory=$(awk '/MemTotal/ {print int($2 / 1024 * 0.8)}' /proc/meminfo)
state=$(mktemp -d /tmp/tarvik_slurm_XXXXXX)
mkdir -p "$state"/{spool,ctld,log} /etc/slurm /run/munge /var/lib/munge /var/log/munge
chown -R munge:munge /run/munge /var/lib/munge /var/log/munge 2>/dev/null || true
[ -s /etc/munge/munge.key ] || { mkdir -p /etc/munge; dd if=/dev/urandom bs=1 count=1024 of=/etc/munge/munge.key 2>/dev/null; }
chown munge:munge /etc/munge/munge.key 2>/dev/null || true
chmod 400 /etc/munge/munge.key
cat >/etc/slurm/slurm.conf <<CONF
ClusterName=tarvik
SlurmctldHost=$host
AuthType=auth/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
ReturnToService=2
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$state/ctld
SlurmdSpoolDir=$state/spool
SlurmctldPidFile=$state/slurmctld.pid
SlurmdPidFile=$state/slurmd.pid
SlurmctldLogFile=$state/log/slurmctld.log
SlurmdLogFile=$state/log/slurmd.log
MpiDefault=none
NodeName=$host CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=main Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
# The daemons this script started are stopped by their own process ids,
# never by name: another Slurm or munge on the machine is left alone.
stop() {
  scancel --user=root >/dev/null 2>&1 || true
  for pidfile in "$state/slurmd.pid" "$state/slurmctld.pid" "$state/munged.pid"; do
    [ -s "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
  done
  for _ in $(seq 20); do
    alive=0
    for pidfile in "$state/slurmd.pid" "$state/slurmctld.pid"; do
      [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null && alive=1
    done
    [ $alive -eq 0 ] && break
    sleep 0.5
  done
  rm -rf "$state" 2>/dev/null || true
}
trap stop EXIT
if ! pgrep -x munged >/dev/null; then
  munged --force --pid-file="$state/munged.pid" 2>/dev/null || munged --pid-file="$state/munged.pid"
fi
slurmctld
slurmd
for _ in $(seq 60); do
  sinfo -h -o %t 2>/dev/null | grep -q -E '^idle' && break
  sleep 1
done
sinfo -h -o %t | grep -q -E '^idle' || { echo "FAIL: the Slurm node did not come up"; cat "$state"/log/*; exit 1; }
echo "slurm: node $host up with $cpus CPUs and $memory MB"
SNAKEMAKE_PROFILE="$src/workflow/profiles/slurm" "$src/tests/test_workflow.sh" "$src" "$tarvik"
