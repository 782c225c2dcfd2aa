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
#
# It writes <out>/merged.pheno, <out>/merged.gv and <out>/merged.causal.tsv.

TRAIT = CONFIG.get("trait")


def trait_run_outputs():
    if not TRAIT:
        return []
    return [f"{OUT}/chr{{name}}.gv", f"{OUT}/chr{{name}}.causal.tsv"]


def trait_arguments(wildcards):
    """A chromosome's run in trait mode: no disease loci, no cases."""
    c = CONFIG["chromosomes"][wildcards.name]
    panel = f"-vcf {c['vcf']}" if "vcf" in c else f"-h {c['haps']} -l {c['legend']}"
    args = [panel, f"-m {c['map']}", f"-chr {c.get('chr', wildcards.name)}"]
    if "interval" in c:
        args.append("-int {} {}".format(*c["interval"]))
    if "causal" in c:
        args.append(f"-causal {c['causal']}")
    else:
        args.append(f"-causal_random {TRAIT['causal_random']}")
        for key in ("causal_maf", "alpha"):
            if key in TRAIT:
                args.append(f"-{key} {TRAIT[key]}")
    args.append(f"-n {CONTROLS + CASES} 0")
    if CONFIG.get("copy_panel_only"):
        args.append("-copy_panel_only")
    args.append(f"-seed {seed_of(wildcards.name)}")
    args.append("-output_plink" if FORMAT == "plink" else "-output_vcf")
    args.append("-no_haps_output -no_gens_output")
    return " ".join(args)


def trait_final():
    return [f"{OUT}/merged.gv", f"{OUT}/merged.causal.tsv"] if TRAIT else []


if TRAIT:

    rule combine_trait:
        input: gv=expand(f"{OUT}/chr{{name}}.gv", name=CHROMS), causal=expand(f"{OUT}/chr{{name}}.causal.tsv", name=CHROMS)
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
            with open(log[0], "w") as f:
                f.write(f"trait: -seed {params.seed}\n")
            shell(f"{TARVIK} -combine {OUT}/trait_list.txt {flags} -seed {params.seed} -o {OUT}/merged >> {log} 2>&1")
