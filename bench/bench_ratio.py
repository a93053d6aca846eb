"""Alternating pairs of timings and the one summary line every benchmark ends with."""
import statistics


class PairTimes:
    """Times of our side and the reference side, taken alternately in pairs. The ratio is our
    throughput over the reference's: reference time / our time."""

    def __init__(self, ours: str, reference: str):
        self.ours_name, self.reference_name = ours, reference
        self.ours: list[float] = []
        self.reference: list[float] = []

    def add(self, ours_s: float, reference_s: float) -> None:
        self.ours.append(ours_s)
        self.reference.append(reference_s)

    def report(self, name: str, goal: float, mib: float) -> float:
        """Prints each side's median, the ratio of the medians, and last the summary line: the
        median of the per-pair ratios (the two runs of a pair meet nearly the same machine, so
        it holds still when the load changes during a run) with the lowest and highest pair."""
        ours = statistics.median(self.ours)
        reference = statistics.median(self.reference)
        pairs = [r / o for o, r in zip(self.ours, self.reference)]
        ratio = round(statistics.median(pairs), 2)
        print(f"{self.ours_name}: median {ours:.2f} s ({mib / ours:.0f} MiB/s)")
        print(f"{self.reference_name}: median {reference:.2f} s ({mib / reference:.0f} MiB/s)")
        print(f"ratio of the medians: {reference / ours:.2f}")
        print(f"{name}: ratio {ratio:.2f} ({min(pairs):.2f}\u2013{max(pairs):.2f}), "
              f"goal {goal:.2f}: {'met' if ratio >= goal else 'missed'}")
        return ratio
