/* A library that holds only resources still needs one object to link. */
int taskelleTestIconLibrary;
