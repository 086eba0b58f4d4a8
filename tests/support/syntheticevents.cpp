// Seeded generators of camera-like event streams shared by tests and benchmarks.
