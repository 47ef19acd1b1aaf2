// A main of kep_check's own, for installations whose own batch main is not named to the build
// (KEP_PLATFORM_MAIN): it hands over to ITK_user_main, which then logs in with the command line's
// -u= -p= -g= itself, or by the site's automatic login when -u= is not given.
extern "C" int ITK_user_main(int argc, char* argv[]);

int main(int argc, char** argv) { return ITK_user_main(argc, argv); }
