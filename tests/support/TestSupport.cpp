// Support code for the tests lives in this folder.
