# The trait section: with a `trait:` block in the config, every chromosome
# simulates the whole sample as a population (-n <controls + cases> 0) with
# its causal SNPs and writes its genetic values; `tarvik -combine` then sums
# them and applies the noise (and the liability threshold) once, to the
# genome-wide value, with a seed word derived like the chromosomes' seeds.
#
#   trait:
#     causal_random: 50    # causal SNPs drawn per chromosome, or per chromosome
#                          # `causal: <file>` in its entry ("position effect" lines)
#     causal_maf: 0.01     # optional
#     alpha: -1            # optional
#     h2: 0.5
#     prevalence: 0.1      # optional: a binary trait
#     replicates: 1        # optional
#     ascertain:           # optional, with prevalence and copy_panel_only: an
#       population: 600000 # ascertained sample of `cases` and `controls`
#
# It writes <out>/merged.pheno, <out>/merged.gv and <out>/merged.causal.tsv.
#
# With `ascertain:` the chromosomes first score a population of `population`
# individuals (<out>/score/chr<name>.gv, no genotypes); -combine -ascertain
# picks the first `cases` cases and `controls` controls of its genome-wide
# liabilities into merged.pheno; then each chromosome writes the genotypes of
# those individuals alone (-keep merged.pheno, the same seed), so the merged
# set holds the ascertained sample.

TRAIT = CONFIG.get("trait")
ASCERTAIN = (TRAIT or {}).get("ascertain")
if ASCERTAIN is not None:
    if not isinstance(ASCERTAIN, dict) or set(ASCERTAIN) != {"population"}:
        stop(f"config: trait: ascertain must be a mapping with the one key population, not {ASCERTAIN!r}")
    whole_number("trait: ascertain: population", ASCERTAIN["population"], 1)
    if "prevalence" not in TRAIT or not CONFIG.get("copy_panel_only"):
        stop("config: trait: ascertain needs trait: prevalence and copy_panel_only: true")
    if CASES < 1:
        stop("config: trait: ascertain picks `cases` cases; cases must be at least 1")


def trait_run_outputs():
    if not TRAIT or ASCERTAIN:
        return []
    return [f"{OUT}/chr{{name}}.gv", f"{OUT}/chr{{name}}.causal.tsv"]


def trait_panel_arguments(name):
    c = CONFIG["chromosomes"][name]
    panel = f"-vcf {c['vcf']}" if "vcf" in c else f"-h {c['haps']} -l {c['legend']}"
    args = [panel, f"-m {c['map']}", f"-chr {c.get('chr', name)}"]
    if "interval" in c:
        args.append("-int {} {}".format(*c["interval"]))
    return args


def trait_arguments(wildcards, score=False):
    """A chromosome's run in trait mode: no disease loci, no cases. With
    ascertainment, the scoring run (genetic values of the population), or
    the run that writes the sample's genotypes."""
    c = CONFIG["chromosomes"][wildcards.name]
    args = trait_panel_arguments(wildcards.name)
    if ASCERTAIN and not score:
        args += [f"-n {ASCERTAIN['population']} 0 -copy_panel_only -keep {OUT}/merged.pheno",
                 f"-seed {seed_of(wildcards.name)}", "-output_plink" if FORMAT == "plink" else "-output_vcf",
                 "-no_haps_output -no_gens_output"]
        return " ".join(args)
    if "causal" in c:
        args.append(f"-causal {c['causal']}")
    else:
        args.append(f"-causal_random {TRAIT['causal_random']}")
        for key in ("causal_maf", "alpha"):
            if key in TRAIT:
                args.append(f"-{key} {TRAIT[key]}")
    args.append(f"-n {ASCERTAIN['population'] if score else CONTROLS + CASES} 0")
    if CONFIG.get("copy_panel_only"):
        args.append("-copy_panel_only")
    args.append(f"-seed {seed_of(wildcards.name)}")
    if not score:
        args.append("-output_plink" if FORMAT == "plink" else "-output_vcf")
    args.append("-no_haps_output -no_gens_output")
    return " ".join(args)


def trait_run_inputs(wildcards):
    """The sample a chromosome writes, once it is picked."""
    return [f"{OUT}/merged.pheno"] if ASCERTAIN else []


def ascertained_status(stem):
    """The sample's status of merged.pheno in a chromosome's .fam (whose
    individuals are the .pheno's, in its order), so the .fam does not call
    every individual a control."""
    fam = f"{stem}.fam"
    if not ASCERTAIN or not os.path.exists(fam):
        return
    with open(f"{OUT}/merged.pheno") as f:
        status = {tuple(line.split()[:2]): line.split()[2] for line in f.read().splitlines()[1:]}
    with open(fam) as f:
        rows = [line.split(" ") for line in f.read().splitlines()]
    for row in rows:
        row[5] = status[(row[0], row[1])]
    with open(fam, "w") as f:
        f.write("".join(" ".join(row) + "\n" for row in rows))


def trait_scores():
    """The genetic values combined: the population's, or the sample's own."""
    where = f"{OUT}/score/chr" if ASCERTAIN else f"{OUT}/chr"
    return [f"{where}{name}.gv" for name in CHROMS], [f"{where}{name}.causal.tsv" for name in CHROMS]


def trait_final():
    return [f"{OUT}/merged.gv", f"{OUT}/merged.causal.tsv"] if TRAIT else []


if ASCERTAIN:

    rule score_chromosome:
        output: f"{OUT}/score/chr{{name}}.gv", f"{OUT}/score/chr{{name}}.causal.tsv"
        log: f"{OUT}/score/chr{{name}}.log"
        threads: CONFIG.get("threads", 1)
        params: args=lambda w: trait_arguments(w, score=True), seed=lambda w: seed_of(w.name)
        run:
            with open(log[0], "w") as f:
                f.write(f"chromosome {wildcards.name} (scoring): -seed {params.seed}, {TARVIK}\n")
            shell("{TARVIK} {params.args} -threads {threads} -o {OUT}/score/chr{wildcards.name} >> {log} 2>&1")


if TRAIT:

    rule combine_trait:
        input: gv=trait_scores()[0], causal=trait_scores()[1]
        output: f"{OUT}/merged.pheno", f"{OUT}/merged.gv", f"{OUT}/merged.causal.tsv"
        log: f"{OUT}/trait.log"
        params: seed=seed_of("trait")
        run:
            with open(f"{OUT}/trait_list.txt", "w") as f:
                f.write("".join(os.path.abspath(path) + "\n" for path in input.gv))
            flags = f"-h2 {TRAIT['h2']}"
            if "prevalence" in TRAIT:
                flags += f" -prevalence {TRAIT['prevalence']}"
            if "replicates" in TRAIT:
                flags += f" -replicates {TRAIT['replicates']}"
            if ASCERTAIN:
                flags += f" -ascertain {CASES} {CONTROLS}"
            with open(log[0], "w") as f:
                f.write(f"trait: -seed {params.seed}\n")
            shell(f"{TARVIK} -combine {OUT}/trait_list.txt {flags} -seed {params.seed} -o {OUT}/merged >> {log} 2>&1")
