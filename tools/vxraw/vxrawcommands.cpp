// Commands of the vxraw tool; filled in with the recording format.
