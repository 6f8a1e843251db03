// A library whose only purpose is its version resource (1.0.0.10), read by the
// local-state tests.
extern "C" __declspec(dllexport) int VersionedDllMarker()
{
    return 10;
}
