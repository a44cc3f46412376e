#pragma once
// The hooks that tests running the program in a child process drive
// (app/TestHooks.cpp). Only lumengallery_testhooks defines and calls them.

// Starts the hooks that the environment asks for; called once on the main
// thread after the launch sequence is scheduled.
void startTestHooks();
