"""The soak run's parts: scripts/soak puts them together."""
