// Links the model and the controls whole against the platform alone (see the
// top-level CMakeLists.txt), and each room of the platform whole against the
// rooms below it (platform/CMakeLists.txt): each builds only while what it
// links names nothing above it. It is never run.
int main()
{
    return 0;
}
