"""Resident memory of the running process, shared by the reliability scripts."""


def rss_mb() -> float:
    """Resident memory in MiB, the unit of every figure the scripts print."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")
