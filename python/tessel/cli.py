"""The ``tessel`` command."""

import argparse
import sys


def main(argv=None):
    parser = argparse.ArgumentParser(prog="tessel", description=__doc__)
    parser.parse_args(argv)
    return 0


if __name__ == "__main__":
    sys.exit(main())
