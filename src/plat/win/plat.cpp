// Windows provides the platform itself; this target only carries its link libraries.
