// The precompiled headers are made for this file and shared by every other target.
